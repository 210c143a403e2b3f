#!/usr/bin/env bash
# nginx with TLS on 127.0.0.1 for https_tests, from certificates made here:
#   https_server.sh start <folder>   writes <folder>/ports, <folder>/trusted-ca.der, serves <folder>/www
#   https_server.sh stop <folder>
# Three servers over the same files: a certificate for localhost from the test authority (the
# test adds that authority to its Wine prefix's root store, never the machine's), one for
# localhost from an authority nobody trusts, and one from the test authority for another name.
# The GTA archive sends its first MiB at once and the rest at 8 KiB/s unless asked for a
# range, so that a test can stop a download halfway without racing it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
. "$root/tools/lib/loopback_nginx.sh"
action="$1"; dir="$(realpath -m "$2")"

if [ "$action" = stop ]; then
  [ -f "$dir/nginx/nginx.pid" ] && kill "$(cat "$dir/nginx/nginx.pid")" 2>/dev/null || true
  exit 0
fi

[ -f "$dir/nginx/nginx.pid" ] && kill "$(cat "$dir/nginx/nginx.pid")" 2>/dev/null || true
rm -rf "$dir"
mkdir -p "$dir/certs" "$dir/nginx" "$dir/www/gta" "$dir/tree/GTA-SA/models"
certs="$dir/certs"
tls_authority "$certs" trusted
tls_authority "$certs" untrusted
tls_server_certificate "$certs" good trusted localhost
tls_server_certificate "$certs" stranger untrusted localhost
tls_server_certificate "$certs" other-name trusted talvoreen-other.test
openssl x509 -in "$certs/trusted.pem" -outform DER -out "$dir/trusted-ca.der"

# A stand-in game folder in a stored (uncompressed) archive of about 1.5 MiB.
printf 'stand-in game executable\n' >"$dir/tree/GTA-SA/gta_sa.exe"
head -c 1500000 /dev/urandom >"$dir/tree/GTA-SA/models/gta3.img"
(cd "$dir/tree" && rar a -m0 -idq "$dir/www/gta/talvoreen-gtasa.rar" GTA-SA >/dev/null)

ports=()
for _ in 1 2 3; do ports+=("$(free_loopback_port)"); done
start_loopback_nginx "$dir/nginx" "${ports[0]} ssl" 1 64 off \
  "root $dir/www; $(tls_nginx_lines "$certs" good) access_log $dir/nginx/access.log tv;
    location /gta/ { limit_rate_after 1m; limit_rate \$tv_rate; }" \
  "log_format tv '\$request_uri \$status \"\$http_range\"';
  map \$http_range \$tv_rate { '' 8k; default 0; }
  server { listen 127.0.0.1:${ports[1]} ssl; root $dir/www; $(tls_nginx_lines "$certs" stranger) }
  server { listen 127.0.0.1:${ports[2]} ssl; root $dir/www; $(tls_nginx_lines "$certs" other-name) }" \
  </dev/null >/dev/null
printf '%s\n' "${ports[@]}" >"$dir/ports"
