# Tagged values and JSON (request records, path-addressed documents); SHA-1 and HMAC stand alone so
# that the install helper can take them without the rest.
kr_library(kr_values
    SOURCES variant.cpp value_text.cpp json_records.cpp json_document.cpp
    LIBS kr_base kr_rapidjson)

kr_library(kr_sha1
    SOURCES sha1.cpp)
