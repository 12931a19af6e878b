#!/usr/bin/env bash
# Test fixture: serves talvenplan.cgi through one of the web servers
# doc/install.md documents, configured by its own snippet from conf/, with
# only the port and the paths filled in; or stops it again.
#
# Usage: server.sh start SERVER[-https] STATE PROGRAM [WEB]
#        server.sh stop SERVER STATE
#        server.sh needs-cgi STATE   (Apache refuses the snippet without CGI)
# SERVER is lighttpd, nginx or apache. STATE (in the build tree) receives
# what tests/e2e/http_test.sh reads: url, datadir, login, workbench. With
# -https the server also serves the HTTPS snippet (conf/*/*-ssl.conf) with a
# certificate made here, STATE/cacert.pem; url and workbench are then
# https:// URLs, and STATE/http_url is the program's plain HTTP URL. The
# server's own files live in a fresh directory under /tmp named in
# STATE/root: run as root, the servers' workers are www-data, which must
# reach the program, the login file and the data directory, and a build
# tree (under /root, say) may be closed to it.
#
# Every server starts in the background by itself and is stopped by the
# PID it writes (fcgiwrap by the PID it was started with); no systemd.
#
# For tests/shared/run: TALVENPLAN_DATA names a data tree to serve instead
# of a fresh one (left as it is on stop), and TALVENPLAN_MOUNT_NS a mount
# namespace (a file nsenter takes) to start the server in, so that two
# servers see two mounts of one volume under the same path, as two hosts do.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
modules=/usr/lib/apache2/modules
user=clerk password=winter-prices
https=  # the HTTPS port, for SERVER-https

# snippet FILE PORT: the snippet FILE with the paths and the port of this
# fixture in place of the documented ones.
snippet() {
  local text
  text=$(sed -e "s#/usr/lib/talvenplan#$root/prog#g" \
    -e "s#/srv/talvenplan#${data:-$root/data}#g" \
    -e "s#/etc/talvenplan/htpasswd#$root/htpasswd#g" \
    -e "s#/run/fcgiwrap.socket#$root/run/fcgiwrap.socket#g" \
    -e "s#/var/log/nginx/#$root/logs/#g" -e "s#/var/log/lighttpd/#$root/logs/#g" \
    -e "s#^\( *listen\) 80;#\1 127.0.0.1:$2;#" \
    -e "s#/etc/letsencrypt/live/shop.example.org#$root/tls#g" \
    -e "s#/var/www/html#$root/htdocs#g" \
    -e "s#https://shop.example.org#https://127.0.0.1:${https-}#g" \
    -e "s#\(0\.0\.0\.0\|\*\):443#127.0.0.1:${https-}#; s#\*:80>#*:$2>#" \
    -e "s#^\( *listen\) 443 ssl;#\1 127.0.0.1:${https-} ssl;#" \
    -e "/use-ipv6\.pl/d" "$top/conf/$1")
  # A path the snippet names that is not filled in would reach the system's
  # own files (comments reach none). A port is matched whole: a random one
  # such as 44321 is this fixture's, not the documented 443.
  if grep -vE '^[[:space:]]*#' <<<"$text" | grep -nE \
    '(^|[[:space:]":])/(usr/lib|srv|etc)/talvenplan|:/run/|/var/log/|listen 80;|letsencrypt|/var/www|:443([^0-9]|$)|:80>'; then
    echo "server.sh: the snippet conf/$1 names a path it cannot fill in" >&2
    return 1
  fi
  printf '%s\n' "$text"
}

as_root() { [ "$(id -u)" = 0 ]; }

write_lighttpd() {  # PORT; what Debian's lighttpd.conf and 10-accesslog.conf give
  cat >"$root/lighttpd.conf" <<CONF
server.modules = ("mod_indexfile", "mod_access", "mod_alias", "mod_redirect",
                  "mod_accesslog")
server.document-root = "$root/htdocs"
server.bind = "127.0.0.1"
server.port = $1
server.pid-file = "$root/run/lighttpd.pid"
server.errorlog = "$root/logs/error.log"
accesslog.filename = "$root/logs/access.log"
server.upload-dirs = ("$root/run")
$(as_root && printf 'server.username = "www-data"\nserver.groupname = "www-data"' || true)
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html", ".js" => "text/javascript",
                   ".json" => "application/json", ".css" => "text/css",
                   ".txt" => "text/plain")
include "$root/talvenplan.conf"
$([ -n "$https" ] && echo "include \"$root/talvenplan-ssl.conf\"")
server.modules += ("mod_dirlisting", "mod_staticfile")
CONF
  snippet lighttpd/50-talvenplan.conf "$1" >"$root/talvenplan.conf"
  [ -z "$https" ] || snippet lighttpd/51-talvenplan-ssl.conf "$1" >"$root/talvenplan-ssl.conf"
}

write_nginx() {  # PORT; what Debian's nginx.conf gives around sites-enabled
  cp /etc/nginx/fastcgi_params "$root/fastcgi_params"
  cat >"$root/nginx.conf" <<CONF
$(as_root && echo 'user www-data;' || true)
worker_processes 2;
pid $root/run/nginx.pid;
error_log $root/logs/error.log;
events { worker_connections 64; }
http {
  include /etc/nginx/mime.types;
  access_log $root/logs/access.log;
  client_body_temp_path $root/run/body;
  fastcgi_temp_path $root/run/fastcgi;
  proxy_temp_path $root/run/proxy;
  uwsgi_temp_path $root/run/uwsgi;
  scgi_temp_path $root/run/scgi;
  include $root/talvenplan.conf;
}
CONF
  snippet "nginx/talvenplan${https:+-ssl}.conf" "$1" >"$root/talvenplan.conf"
}

write_apache() {  # PORT [cgid]; Debian's defaults with the modules we need
  local cgid=${2-cgid}
  cat >"$root/apache2.conf" <<CONF
ServerRoot $root
ServerName 127.0.0.1
Listen 127.0.0.1:$1
PidFile $root/run/apache2.pid
DefaultRuntimeDir $root/run
ErrorLog $root/logs/error.log
LogLevel warn
Define APACHE_LOG_DIR $root/logs
$(as_root && printf 'User www-data\nGroup www-data' || true)
LoadModule mpm_event_module $modules/mod_mpm_event.so
$(for module in authz_core authz_user authn_core authn_file auth_basic alias \
  env mime dir headers $cgid ${https:+ssl socache_shmcb}; do
  echo "LoadModule ${module}_module $modules/mod_$module.so"
done)
$([ -n "$https" ] && printf 'Listen 127.0.0.1:%s\nInclude %s\n' "$https" "$root/talvenplan-ssl.conf")
<Directory $root/htdocs>
  Require all granted
</Directory>
TypesConfig /etc/mime.types
DirectoryIndex index.html
<Directory />
  AllowOverride None
  Require all denied
</Directory>
Include $root/talvenplan.conf
# The site's access log, as doc/install.md has it for Apache.
LogFormat "%h %l %u %t \"%r\" %>s %O \"%{Referer}i\" \"%{User-Agent}i\"" combined
CustomLog $root/logs/access.log combined "expr=%{QUERY_STRING} !~ /^TALVENPLAN_(FILE|ANSWER)=/"
CustomLog $root/logs/access.log talvenplan_link "expr=%{QUERY_STRING} =~ /^TALVENPLAN_(FILE|ANSWER)=/"
CONF
  snippet apache2/talvenplan.conf "$1" >"$root/talvenplan.conf"
  [ -z "$https" ] || snippet apache2/talvenplan-ssl.conf "$1" >"$root/talvenplan-ssl.conf"
}

# launch SERVER: starts it; fails when it does not come up.
launch() {
  case $1 in
  lighttpd) "${in_ns[@]}" lighttpd -f "$root/lighttpd.conf" ;;
  nginx)
    # Socket activation is systemd's; here fcgiwrap makes its own socket,
    # as the web server's user, with a clean environment.
    rm -f "$root/run/fcgiwrap.socket"
    local run=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin)
    as_root && run=(setpriv --reuid=www-data --regid=www-data --init-groups
      "${run[@]}")
    "${run[@]}" fcgiwrap -s "unix:$root/run/fcgiwrap.socket" </dev/null \
      >>"$root/logs/fcgiwrap.log" 2>&1 &
    echo $! >"$root/run/fcgiwrap.pid"
    nginx -p "$root/" -c "$root/nginx.conf" -e "$root/logs/error.log"
    ;;
  apache) apache2 -f "$root/apache2.conf" -k start ;;
  esac
}

# alive PID: the process runs (an ended one that nobody reaped yet does not).
alive() {
  local stat
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
  stat=${stat##*) }
  [[ $stat != Z* ]]
}

# stop_pid FILE: ends the process whose PID FILE holds and waits for it.
stop_pid() {
  [ -f "$1" ] || return 0
  local pid
  pid=$(cat "$1")
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 50); do
    alive "$pid" || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

stop_all() {
  [ -f "$state/root" ] || return 0
  root=$(cat "$state/root")
  [ -d "$root" ] || return 0
  for pidfile in lighttpd nginx apache2 fcgiwrap; do
    stop_pid "$root/run/$pidfile.pid"
  done
  # Keep the logs for a look after a failure.
  cp -r "$root/logs" "$state/" 2>/dev/null || true
  rm -rf "$root"
}

command=${1-}
case $command in
start)
  server=${2%-https} state=$3 program=$4 web=${5:-$top/web} https=
  tls=
  [ "$server" = "$2" ] || tls=yes
  case $server in
  lighttpd) needed="lighttpd:lighttpd" ;;
  nginx) needed="nginx:nginx fcgiwrap:fcgiwrap" ;;
  apache) needed="apache2:apache2" ;;
  *) echo "server.sh: unknown server $server" >&2; exit 2 ;;
  esac
  for pair in $needed curl:curl htpasswd:apache2-utils; do
    if ! PATH=$PATH:/usr/sbin command -v "${pair%%:*}" >/dev/null; then
      echo "these tests need ${pair%%:*}: install the Debian package '${pair#*:}'" >&2
      exit 1
    fi
  done
  export PATH=$PATH:/usr/sbin
  in_ns=()
  if [ -n "${TALVENPLAN_MOUNT_NS:-}" ]; then
    [ "$server" = lighttpd ] || { echo "server.sh: TALVENPLAN_MOUNT_NS is for lighttpd" >&2; exit 2; }
    in_ns=(nsenter "--mount=$TALVENPLAN_MOUNT_NS")
  fi
  stop_all
  rm -rf "$state"
  mkdir -p "$state"
  root=$(mktemp -d /tmp/talvenplan-$server.XXXXXX)
  echo "$root" >"$state/root"
  chmod 0755 "$root"
  data=${TALVENPLAN_DATA:-$root/data}
  mkdir -p "$root/prog/web" "$data" "$root/htdocs" "$root/logs" "$root/run"
  cp "$program" "$root/prog/talvenplan.cgi"
  [ -d "$web" ] && cp -r "$web/." "$root/prog/web/"
  # As the package lays it out: the page's settings are a link to the
  # site's own file.
  if [ -f "$root/prog/web/config.js" ]; then
    mkdir -p "$root/etc"
    mv "$root/prog/web/config.js" "$root/etc/config.js"
    ln -s "$root/etc/config.js" "$root/prog/web/config.js"
  fi
  if [ -n "$tls" ]; then
    mkdir -p "$root/tls" "$root/htdocs/.well-known/acme-challenge"
    echo "acme token" >"$root/htdocs/.well-known/acme-challenge/token"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
      -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
      -keyout "$root/tls/privkey.pem" -out "$root/tls/fullchain.pem" 2>/dev/null
    cp "$root/tls/fullchain.pem" "$state/cacert.pem"
    # For curl with CURL_HOME=STATE: trust that certificate, and speak
    # HTTP/1.1. Debian 12's curl takes lighttpd's HTTP/2 reset of a stream
    # it answered early (a 401 before the body was read) for a broken
    # connection, now and then: a race in the client, not in the snippet.
    printf 'cacert = "%s"\nhttp1.1\n' "$state/cacert.pem" >"$state/.curlrc"
  fi
  echo "workbench" >"$root/prog/web/fixture.txt"
  htpasswd -c -b -B "$root/htpasswd" "$user" "$password" 2>/dev/null
  if as_root; then
    chown www-data:www-data "$root/logs" "$root/run"
    [ -n "${TALVENPLAN_DATA:-}" ] || chown www-data:www-data "$data"
    chgrp www-data "$root/htpasswd" && chmod 0640 "$root/htpasswd"
  fi
  for attempt in $(seq 1 20); do
    port=$((20000 + RANDOM % 40000))
    # A port nobody answers on; the server fails below if it is taken after all.
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
    if [ -n "$tls" ]; then
      https=$((port + 1))
      if (exec 3<>"/dev/tcp/127.0.0.1/$https") 2>/dev/null; then continue; fi
    fi
    "write_$server" "$port"
    if launch "$server" >>"$root/logs/start.log" 2>&1; then
      for _ in $(seq 1 50); do
        if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
          echo "http://127.0.0.1:$port/talvenplan/talvenplan.cgi" >"$state/url"
          echo "http://127.0.0.1:$port/talvenplan/" >"$state/workbench"
          if [ -n "$tls" ]; then
            cp "$state/url" "$state/http_url"
            echo "https://127.0.0.1:$https/talvenplan/talvenplan.cgi" >"$state/url"
            echo "https://127.0.0.1:$https/talvenplan/" >"$state/workbench"
          fi
          echo "$data" >"$state/datadir"
          echo "$user:$password" >"$state/login"
          echo "$server serves its snippet on port $port ($root)"
          exit 0
        fi
        sleep 0.1
      done
    fi
    for pidfile in lighttpd nginx apache2 fcgiwrap; do
      stop_pid "$root/run/$pidfile.pid"
    done
  done
  cat "$root/logs/"* >&2
  echo "could not start $server" >&2
  exit 1
  ;;
stop)
  state=$3
  stop_all
  ;;
needs-cgi)
  # Without a CGI module Apache would send the program as a download; the
  # snippet must stop it from starting at all.
  state=$2
  export PATH=$PATH:/usr/sbin
  mkdir -p "$state"
  root=$(mktemp -d /tmp/talvenplan-needs-cgi.XXXXXX)
  mkdir -p "$root/run" "$root/logs"
  write_apache 80 ""
  if apache2 -t -f "$root/apache2.conf" >"$state/needs-cgi.log" 2>&1; then
    result="FAIL Apache accepts the snippet without a CGI module"
  elif grep -q 'a2enmod cgid' "$state/needs-cgi.log"; then
    result="ok   Apache without a CGI module refuses the snippet, naming a2enmod cgid"
  else
    result="FAIL Apache refuses the snippet, but not for the CGI module: $(cat "$state/needs-cgi.log")"
  fi
  rm -rf "$root"
  echo "$result"
  [[ $result == ok* ]]
  ;;
*)
  echo "usage: $0 start SERVER STATE PROGRAM [WEB] | stop SERVER STATE | needs-cgi STATE" >&2
  exit 2
  ;;
esac
