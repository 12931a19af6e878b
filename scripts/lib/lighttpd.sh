# shellcheck shell=bash
# Shared by scripts/run and the end-to-end test fixture: lays out a document
# root holding talvenplan.cgi beside the web workbench (web/, served as static
# files) and writes a lighttpd configuration that runs the program through
# mod_cgi, with TALVEN_ROOT set to the data directory.

talvenplan_web=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../web" && pwd)

# lighttpd is in /usr/sbin, which a user's PATH on Debian leaves out.
case ":$PATH:" in
*:/usr/sbin:*) ;;
*) PATH=$PATH:/usr/sbin ;;
esac

# require_packages TEST PACKAGE [TEST PACKAGE ...]: PACKAGE is needed where
# the shell command TEST fails. As root on Debian the missing ones are
# installed, after an apt-get update, since a fresh machine has no package
# lists yet; otherwise they are named, and the call fails.
require_packages() {
  local missing=()
  while [ $# -ge 2 ]; do
    eval "$1" >/dev/null 2>&1 || missing+=("$2")
    shift 2
  done
  [ ${#missing[@]} = 0 ] && return 0
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    echo "Installing the Debian packages this needs: ${missing[*]}" >&2
    if DEBIAN_FRONTEND=noninteractive apt-get update -q >&2 &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2; then
      return 0
    fi
  fi
  echo "Missing: install the Debian packages ${missing[*]} (apt-get install ${missing[*]})" >&2
  return 1
}

# require_package COMMAND PACKAGE: PACKAGE is needed where COMMAND is missing.
require_package() {
  require_packages "command -v '$1'" "$2"
}

# json_string TEXT: TEXT as a JSON (and JavaScript) string.
json_string() {
  local text=${1//\\/\\\\}
  text=${text//\"/\\\"}
  printf '"%s"' "$text"
}

# write_lighttpd_conf DIR PROGRAM DATA PORT [VERSIONS [USERS]]: makes DIR/www
# with a copy of PROGRAM and of the workbench, whose config.js opens it onto
# DATA, and writes DIR/lighttpd.conf. The program keeps VERSIONS versions of
# each list (TALVEN_VERSIONS), 50 as shipped; 0 keeps none. USERS, words
# NAME:PASSWORD, serve the same www under /staff/ too, behind HTTP basic
# auth with those logins, so that the program sees REMOTE_USER there; / stays
# open without a login.
write_lighttpd_conf() {
  local dir=$1 program=$2 data=$3 port=$4 versions=${5:-50} users=${6:-}
  local modules='"mod_cgi", "mod_setenv"' staff=''
  if [ -n "$users" ]; then
    tr ' ' '\n' <<<"$users" >"$dir/users"
    modules='"mod_auth", "mod_authn_file", "mod_alias", '$modules
    staff="auth.backend = \"plain\"
auth.backend.plain.userfile = \"$dir/users\"
auth.require = (\"/staff/\" => (\"method\" => \"basic\", \"realm\" => \"Talvenplan staff\", \"require\" => \"valid-user\"))
alias.url = (\"/staff/\" => \"$dir/www/\")"
  fi
  mkdir -p "$dir/www"
  cp -f "$program" "$dir/www/talvenplan.cgi"
  # The page's files only: its unit tests stay behind.
  cp -R "$talvenplan_web/." "$dir/www/"
  rm -rf "$dir/www/test"
  printf 'export default { program: "talvenplan.cgi", directory: %s };\n' \
    "$(json_string "$data")" >"$dir/www/config.js"
  cat >"$dir/lighttpd.conf" <<CONF
server.document-root = "$dir/www"
server.bind = "127.0.0.1"
server.port = $port
server.pid-file = "$dir/lighttpd.pid"
server.errorlog = "$dir/error.log"
server.modules = ($modules)
$staff
cgi.assign = (".cgi" => "")
setenv.add-environment = ("TALVEN_ROOT" => "$data", "TALVEN_VERSIONS" => "$versions")
index-file.names = ("index.html")
# The landing page's own policy (web/offer.html), as the snippets in conf/ send it.
\$HTTP["url"] == "/offer.html" {
  setenv.add-response-header = ("Content-Security-Policy" => "default-src 'none'; script-src 'self'; connect-src 'self'; style-src 'unsafe-inline'; img-src data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'")
}
mimetype.assign = (".html" => "text/html; charset=utf-8",
  ".css" => "text/css; charset=utf-8", ".js" => "text/javascript; charset=utf-8",
  ".json" => "application/json", ".png" => "image/png")
CONF
}

# make_demo_data DATA: a sample price list with several named factors, and a
# list whose name begins with DEMO_ (put never changes it).
make_demo_data() {
  local data=$1
  mkdir -p "$data"
  printf '%s\n' demo 3 'retail 1.0' 'wholesale 0.8' 'vip 0.75' \
    'Winter prices' '"Talvenplan demo shop"' 3 \
    'Chair 49.90' 'Table 199.00' 'Lamp 24.50' 'Prices in EUR' >"$data/prices"
  printf '%s\n' demo 1 'retail 1.0' 'Demo' '""' 1 'Sample 10.00' \
    >"$data/DEMO_prices"
}
