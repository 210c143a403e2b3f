# Sourced by the scripts that serve local stand-ins of the CDN (demo, crash campaign,
# benchmarks): nginx on 127.0.0.1 with every file of its own in one folder.

# A port that was free a moment ago on 127.0.0.1.
free_loopback_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_loopback_nginx FOLDER PORT WORKERS CONNECTIONS ACCESS_LOG SERVER_LINES [HTTP_LINES]
# PORT may carry parameters of nginx's listen directive ("8443 ssl").
# ACCESS_LOG is a file or "off"; SERVER_LINES go inside the server block (root, limits,
# locations), HTTP_LINES beside it. The pid file is FOLDER/nginx.pid.
start_loopback_nginx() {
  local dir="$1" port="$2" workers="$3" connections="$4" access="$5" server="$6" http="${7:-}"
  mkdir -p "$dir"
  cat >"$dir/nginx.conf" <<CONF
worker_processes $workers;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections $connections; }
http {
  access_log $access;
  client_body_temp_path $dir;
  proxy_temp_path $dir;
  fastcgi_temp_path $dir;
  uwsgi_temp_path $dir;
  scgi_temp_path $dir;
  $http
  server {
    listen 127.0.0.1:$port;
    $server
  }
}
CONF
  nginx -c "$dir/nginx.conf"
}
