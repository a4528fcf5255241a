# Serves a folder with Debian's nginx on a free loopback port, for tests, benchmarks and the demo.
# shellcheck shell=bash
#   kr_nginx_start ROOT WORKDIR   sets KR_NGINX_PORT and KR_NGINX_PID; logs go to WORKDIR
#   kr_nginx_stop WORKDIR
#   KR_NGINX_LIMIT_RATE (e.g. 8m) caps each connection's bytes per second, so progress can be watched

kr_free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

kr_wait_port() {
    local port=$1 tries=${2:-100}
    while ((tries-- > 0)); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            return 0
        fi
        sleep 0.05
    done
    return 1
}

kr_nginx_start() {
    local root workdir attempt
    root=$(cd "$1" && pwd)
    workdir=$(mkdir -p "$2" && cd "$2" && pwd)
    for attempt in 1 2 3 4 5; do
        KR_NGINX_PORT=$(kr_free_port)
        cat >"$workdir/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $workdir/nginx.pid;
error_log $workdir/error.log;
events { worker_connections 512; }
http {
    access_log $workdir/access.log;
    client_body_temp_path $workdir/body;
    proxy_temp_path $workdir/proxy;
    fastcgi_temp_path $workdir/fastcgi;
    uwsgi_temp_path $workdir/uwsgi;
    scgi_temp_path $workdir/scgi;
    keepalive_requests 100000;
    sendfile on;
    server {
        listen 127.0.0.1:$KR_NGINX_PORT;
        root $root;
        location / { ${KR_NGINX_LIMIT_RATE:+limit_rate $KR_NGINX_LIMIT_RATE;} }
    }
}
CONF
        /usr/sbin/nginx -e "$workdir/error.log" -p "$workdir" -c "$workdir/nginx.conf" </dev/null >/dev/null 2>&1 &
        KR_NGINX_PID=$!
        echo "$KR_NGINX_PID" >"$workdir/nginx.kr-pid"
        if kr_wait_port "$KR_NGINX_PORT" && kill -0 "$KR_NGINX_PID" 2>/dev/null; then
            export KR_NGINX_PORT KR_NGINX_PID
            return 0
        fi
        kill "$KR_NGINX_PID" 2>/dev/null || true
        wait "$KR_NGINX_PID" 2>/dev/null || true
    done
    echo "nginx did not start; see $workdir/error.log" >&2
    return 1
}

kr_nginx_stop() {
    local pidfile="$1/nginx.kr-pid"
    [ -f "$pidfile" ] || return 0
    kill "$(cat "$pidfile")" 2>/dev/null || true
    wait "$(cat "$pidfile")" 2>/dev/null || true
    rm -f "$pidfile"
    return 0
}
