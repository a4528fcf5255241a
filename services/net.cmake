# HTTP client over libcurl, signed request headers, and the metrics collector and sender.
kr_library(kr_http
    SOURCES http_post.cpp http_request.cpp signed_headers.cpp
    LIBS kr_base kr_values kr_sha1 kr_curl)

kr_library(kr_metrics
    SOURCES metrics.cpp metrics_collector.cpp request_sender.cpp
    LIBS kr_http kr_values kr_base)
target_compile_definitions(kr_metrics PRIVATE "KR_METRICS_URL=\"${KR_METRICS_URL}\"")
