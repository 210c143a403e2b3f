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

# Certificates for TLS on 127.0.0.1, made with openssl into FOLDER as NAME.pem and NAME.key.
# tls_authority FOLDER NAME: a certificate authority of its own (trusted by nobody until a
# Wine prefix is told to).
tls_authority() {
  mkdir -p "$1"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1/$2.key" -out "$1/$2.pem" -days 30 \
    -subj "/CN=Talvoreen test $2" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
# tls_server_certificate FOLDER NAME AUTHORITY HOST: a server certificate for the host name
# HOST signed by FOLDER/AUTHORITY. Wine's WinHTTP matches host names only, never IP addresses:
# use a name that resolves to 127.0.0.1, such as localhost.
tls_server_certificate() {
  local dir="$1" name="$2" ca="$3" host="$4"
  openssl req -newkey rsa:2048 -nodes -keyout "$dir/$name.key" -out "$dir/$name.csr" -subj "/CN=$host" 2>/dev/null
  printf 'subjectAltName=DNS:%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$host" >"$dir/$name.ext"
  openssl x509 -req -in "$dir/$name.csr" -CA "$dir/$ca.pem" -CAkey "$dir/$ca.key" -CAcreateserial -days 30 \
    -extfile "$dir/$name.ext" -out "$dir/$name.pem" 2>/dev/null
}
# tls_nginx_lines FOLDER NAME: the lines of a server block that serve that certificate.
tls_nginx_lines() { printf 'ssl_certificate %s/%s.pem; ssl_certificate_key %s/%s.key;' "$1" "$2" "$1" "$2"; }
