// Load through a web server: N clients, each on its own kept-open loopback
// connection, send a mix of requests for T seconds and check every answer.
//
//   gets, puts, queries and listings on a few databases, stores, offer opens
//
// - every answer has status 200 and Content-Type text/html;
// - a get answers a whole version of the database that some put wrote (each
//   version names its writer and number, so its bytes can be made again);
//   a query answers that version's price section, every price doubled;
// - a listing shows exactly the databases: no offer, no put in progress;
// - every stored offer is opened twice, often by two clients at once, and is
//   shown exactly once, whole; the other opening finds it gone;
// - afterwards the data directory holds the databases and nothing else.
//
// With --header-only the same requests go to a CGI program that writes only
// the header; only status and an empty body are checked. Given several
// ports (servers sharing one data directory), the clients take them in
// turn; --login sends a basic-authentication login with every request. With
// --big MB a put and a store of MB megabytes follow the load, and come back
// whole.
//
// Prints requests a second and latency (p50, p99, max); exits 1 on any
// wrong answer, 2 on a usage or setup error.
//
// Usage: talvenplan_load --port PORT [--port PORT...] --data DIR
//                        [--clients N] [--seconds T] [--path /talvenplan.cgi]
//                        [--login USER:PASSWORD] [--header-only] [--big MB]
#include <curl/curl.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "protocol/letter_pair.h"
#include "protocol/wire.h"
#include "vectors.h"

namespace {

using talvenplan::IsOfferName;
using talvenplan::OfferLinkQuery;

using Clock = std::chrono::steady_clock;

constexpr int kDatabases = 4;
constexpr int kMaxClients = 256;
constexpr char kGone[] = "error on server: can't open temp file";

struct Options {
  std::vector<int> ports;
  std::string login;  // USER:PASSWORD, or empty
  std::string data;
  int clients = 8;
  double seconds = 10;
  std::string path = "/talvenplan.cgi";
  bool header_only = false;
  long big_megabytes = 0;
};

Options g_options;

// Wrong answers: counted, and the first few described.
std::atomic<long> g_wrong{0};
std::mutex g_report_mutex;

void Wrong(const std::string& what, std::string_view answer = {}) {
  long n = ++g_wrong;
  if (n > 10) return;
  std::lock_guard lock(g_report_mutex);
  std::string shown(answer.substr(0, 300));
  for (char& c : shown) {
    if (c == '\n') c = '|';
  }
  std::fprintf(stderr, "WRONG: %s\n", what.c_str());
  if (!answer.empty()) {
    std::fprintf(stderr, "  answer: %s%s\n", shown.c_str(),
                 answer.size() > 300 ? "..." : "");
  }
}

std::uint64_t Mix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15u;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

// (Appended rather than added: g++ 12 warns wrongly about "k" + string.)
std::string DatabaseName(int db) {
  return std::string("load").append(std::to_string(db));
}
std::string DatabaseKey(int db) {
  return std::string("k").append(std::to_string(db));
}

// The price lines of a version: a few to a few hundred whole prices.
struct Version {
  int db, writer, number;
};

std::uint64_t VersionSeed(const Version& v) {
  return Mix((static_cast<std::uint64_t>(v.db) << 48) ^
             (static_cast<std::uint64_t>(v.writer) << 32) ^
             static_cast<std::uint64_t>(v.number));
}

int PriceCount(const Version& v) {
  std::uint64_t seed = VersionSeed(v);
  // Mostly small lists, now and then a long one (a few KB).
  return seed % 8 == 0 ? 100 + static_cast<int>(seed % 300)
                       : 1 + static_cast<int>(seed % 30);
}

unsigned Price(const Version& v, int line) {
  return static_cast<unsigned>(Mix(VersionSeed(v) + line) % 1000000);
}

std::string HeaderLineA(const Version& v) {
  return "v " + std::to_string(v.db) + " " + std::to_string(v.writer) + " " +
         std::to_string(v.number);
}

// The whole database file of a version.
std::string DatabaseText(const Version& v) {
  std::string text = DatabaseKey(v.db) + "\n2\nretail 1.0\ndouble 2\n" +
                     HeaderLineA(v) + "\n\"load\"\n";
  int count = PriceCount(v);
  text += std::to_string(count) + "\n";
  for (int i = 0; i < count; ++i) {
    text +=
        "item" + std::to_string(i) + " " + std::to_string(Price(v, i)) + "\n";
  }
  text += "end " + std::to_string(v.writer) + "\n";
  return text;
}

// The answer to a query for the factor "double" on a version.
std::string QueryAnswer(const Version& v) {
  std::string text = "s" + HeaderLineA(v) + "\n\"load\"\n";
  int count = PriceCount(v);
  text += std::to_string(count) + "\n";
  for (int i = 0; i < count; ++i) {
    text += "item" + std::to_string(i) + " " +
            std::to_string(2 * static_cast<unsigned long>(Price(v, i))) +
            ".000000\n";
  }
  text += "end " + std::to_string(v.writer) + "\n";
  return text;
}

// The versions issued so far: writer w has started puts up to number
// issued[db][w] on database db (writer 0 is the setup).
std::atomic<int> g_issued[kDatabases][kMaxClients + 1];

// Reads "v DB WRITER NUMBER" from the start of `line`.
bool ParseVersion(std::string_view line, Version& v) {
  std::string text(line.substr(0, line.find('\n')));
  char tail = 0;
  return std::sscanf(text.c_str(), "v %d %d %d%c", &v.db, &v.writer, &v.number,
                     &tail) == 3;
}

bool Issued(const Version& v, int db) {
  return v.db == db && v.writer >= 0 && v.writer <= kMaxClients &&
         v.number >= 0 && v.number <= g_issued[db][v.writer].load();
}

// Offers: each is opened twice; exactly one opening must show it.
struct Offer {
  std::string name;
  std::string text;
  std::atomic<int> shown{0};
  std::atomic<int> gone{0};
};

std::mutex g_offers_mutex;
std::vector<std::unique_ptr<Offer>> g_offers;
std::deque<Offer*> g_tickets;

// One client's connection to the server, kept open from one request to the
// next by its libcurl handle.
class Connection {
 public:
  explicit Connection(int port) : port_(port), curl_(::curl_easy_init()) {
    ::curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Append);
    if (!g_options.login.empty()) {
      ::curl_easy_setopt(curl_, CURLOPT_USERPWD, g_options.login.c_str());
    }
    ::curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 60L);  // stuck: a failure
    headers_ =
        ::curl_slist_append(headers_, "Content-Type: application/octet-stream");
    headers_ = ::curl_slist_append(headers_, "Expect:");
  }
  ~Connection() {
    ::curl_easy_cleanup(curl_);
    ::curl_slist_free_all(headers_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Sends a GET (no body) or a POST of `body` to `target` on the server and
  // reads the answer's status and body. False, with curl's reason in
  // `answer`, when no whole response came.
  bool Send(const std::string& target, const std::string* body, long& status,
            std::string& answer) {
    std::string url = "http://127.0.0.1:" + std::to_string(port_) + target;
    answer.clear();
    ::curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    ::curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &answer);
    if (body != nullptr) {
      ::curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
      ::curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->data());
      ::curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(body->size()));
    } else {
      ::curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    }
    CURLcode code = ::curl_easy_perform(curl_);
    if (code != CURLE_OK) {
      answer = ::curl_easy_strerror(code);
      return false;
    }
    ::curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
    const char* type = nullptr;
    ::curl_easy_getinfo(curl_, CURLINFO_CONTENT_TYPE, &type);
    if (status == 200 &&
        (type == nullptr || !std::string_view(type).starts_with("text/html"))) {
      Wrong("no Content-Type text/html", answer);
    }
    return true;
  }

 private:
  static std::size_t Append(char* data, std::size_t, std::size_t size,
                            void* answer) {
    static_cast<std::string*>(answer)->append(data, size);
    return size;
  }

  int port_;
  CURL* curl_;
  curl_slist* headers_ = nullptr;
};

struct Counts {
  long requests = 0;
  long gets = 0, puts = 0, queries = 0, lists = 0, stores = 0, opens = 0;
  std::vector<std::uint32_t> micros;
};

class Client {
 public:
  Client(int id, Counts& counts)
      : id_(id),
        counts_(counts),
        random_(Mix(id) ^ ::getpid()),
        connection_(g_options.ports[static_cast<std::size_t>(id) %
                                    g_options.ports.size()]) {}

  // One request, timed (a GET without `body`); false when its answer was
  // not a whole 200.
  bool Request(const std::string& target, const std::string* body,
               std::string& answer) {
    auto start = Clock::now();
    long status = 0;
    bool sent = connection_.Send(target, body, status, answer);
    auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        Clock::now() - start);
    counts_.requests++;
    counts_.micros.push_back(static_cast<std::uint32_t>(took.count()));
    if (!sent) {
      Wrong(std::string(body ? "POST " : "GET ") + target + ": " + answer);
      return false;
    }
    if (status != 200) {
      Wrong("status " + std::to_string(status), answer);
      return false;
    }
    if (g_options.header_only && !answer.empty()) {
      Wrong("header-only program answered a body", answer);
      return false;
    }
    return !g_options.header_only;
  }

  bool Post(const std::string& body, std::string& answer) {
    return Request(g_options.path, &body, answer);
  }

  std::string Command(char letter, const std::string& rest) {
    return std::string(1, letter) + "\n" + g_options.data + "\n" + rest;
  }

  void Get(int db) {
    counts_.gets++;
    std::string answer;
    if (!Post(Command('g', DatabaseKey(db) + " " + DatabaseName(db) + "\n"),
              answer)) {
      return;
    }
    // "s", the key line, then the rest: the whole file after "s".
    Version v{};
    std::size_t a = 0;
    for (int line = 0; line < 4 && a != std::string::npos; ++line) {
      a = answer.find('\n', a);
      if (a != std::string::npos) ++a;
    }
    if (a == std::string::npos || !ParseVersion(answer.substr(a), v) ||
        !Issued(v, db)) {
      Wrong("get " + DatabaseName(db) + ": no version a put wrote", answer);
    } else if (answer != "s" + DatabaseText(v)) {
      Wrong("get " + DatabaseName(db) + ": not the whole version", answer);
    }
  }

  void Put(int db) {
    counts_.puts++;
    Version v{db, id_, 0};
    v.number = ++g_issued[db][id_];
    std::string answer;
    if (Post(Command('p', DatabaseKey(db) + " " + DatabaseName(db) + "\n") +
                 DatabaseText(v),
             answer) &&
        answer != "s") {
      Wrong("put " + DatabaseName(db), answer);
    }
  }

  void Query(int db) {
    counts_.queries++;
    std::string answer;
    if (!Post(Command('q', "double " + DatabaseName(db) + "\n"), answer)) {
      return;
    }
    Version v{};
    if (!answer.starts_with("s") || !ParseVersion(answer.substr(1), v) ||
        !Issued(v, db)) {
      Wrong("query " + DatabaseName(db) + ": no version a put wrote", answer);
    } else if (answer != QueryAnswer(v)) {
      Wrong("query " + DatabaseName(db) + ": not that version's prices",
            answer);
    }
  }

  void List() {
    counts_.lists++;
    std::string answer;
    if (!Post(Command('l', ""), answer)) return;
    std::set<std::string> names;
    std::size_t at = 1;
    while (at < answer.size()) {
      std::size_t end = answer.find('\n', at);
      if (end == std::string::npos) break;
      names.insert(answer.substr(at, end - at));
      at = end + 1;
    }
    std::set<std::string> expected;
    for (int db = 0; db < kDatabases; ++db) expected.insert(DatabaseName(db));
    if (!answer.starts_with("s") || at != answer.size() || names != expected) {
      Wrong("listing: not exactly the databases", answer);
    }
  }

  void Store() {
    counts_.stores++;
    auto offer = std::make_unique<Offer>();
    offer->text = "<p>offer " + std::to_string(id_) + " " +
                  std::to_string(stored_++) + "</p>\n";
    offer->text.append(random_() % 4000, "abcdefgh\n"[random_() % 9]);
    offer->text += "\n";
    std::string answer;
    if (!Post(Command('s', offer->text), answer)) return;
    if (!answer.starts_with("s") || !IsOfferName(answer.substr(1))) {
      Wrong("store: no offer name", answer);
      return;
    }
    offer->name = answer.substr(1);
    std::lock_guard lock(g_offers_mutex);
    g_tickets.push_back(offer.get());
    g_tickets.push_back(offer.get());
    g_offers.push_back(std::move(offer));
  }

  // Opens an offer that some client stored; false when there is none.
  bool Open() {
    Offer* offer = nullptr;
    {
      std::lock_guard lock(g_offers_mutex);
      if (g_tickets.empty()) return false;
      // The other ticket is often still near the front: two clients may
      // open the same offer at once.
      std::size_t pick = random_() % std::min<std::size_t>(4, g_tickets.size());
      offer = g_tickets[pick];
      g_tickets.erase(g_tickets.begin() + static_cast<long>(pick));
    }
    OpenOffer(offer->name, offer);
    return true;
  }

  void OpenOffer(const std::string& name, Offer* offer) {
    counts_.opens++;
    std::string target =
        g_options.path + "?" + OfferLinkQuery(name, g_options.data);
    std::string answer;
    if (!Request(target, nullptr, answer) || offer == nullptr) return;
    static const talvenplan::testing::OfferPage kPage =
        talvenplan::testing::ReadOfferPage();
    if (answer == kGone) {
      offer->gone++;
    } else if (answer == kPage.Around(offer->text)) {
      offer->shown++;
    } else {
      Wrong("offer " + name + ": neither the page nor gone", answer);
    }
  }

  void Run(Clock::time_point end) {
    while (Clock::now() < end) {
      int db = static_cast<int>(random_() % kDatabases);
      unsigned pick = random_() % 100;
      if (g_options.header_only && pick >= 85) {
        OpenOffer(".AAAAAA", nullptr);  // the same request, nothing to show
      } else if (pick < 30) {
        Get(db);
      } else if (pick < 45) {
        Put(db);
      } else if (pick < 65) {
        Query(db);
      } else if (pick < 75) {
        List();
      } else if (pick < 85) {
        Store();
      } else if (!Open()) {
        Get(db);
      }
    }
  }

  int id_;
  Counts& counts_;
  std::mt19937_64 random_;
  long stored_ = 0;
  Connection connection_;
};

// The names in a directory, "." and ".." left out.
std::set<std::string> DirectoryNames(const std::string& path) {
  std::set<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  ::closedir(dir);
  return names;
}

// A put and a store of `megabytes` MB, each read back whole.
void BigRequests(Client& client, long megabytes) {
  std::size_t size = static_cast<std::size_t>(megabytes) << 20;
  std::string answer;
  std::string text = "big\n1\nretail 1.0\nBig\n\"\"\n0\n";
  std::string line = "a trailing line of the big database, to fill it up\n";
  while (text.size() + line.size() <= size) text += line;
  text.append(size - text.size(), 'x');
  text.back() = '\n';
  if (!client.Post(client.Command('c', "big big\n"), answer) || answer != "s") {
    Wrong("create big", answer);
  }
  if (!client.Post(client.Command('p', "big big\n") + text, answer) ||
      answer != "s") {
    Wrong("put of " + std::to_string(megabytes) + " MB", answer);
  }
  if (!client.Post(client.Command('g', "big big\n"), answer) ||
      answer != "s" + text) {
    Wrong("get of the " + std::to_string(megabytes) + " MB put: not whole",
          answer.substr(0, 100));
  }
  if (!client.Post(client.Command('r', "big big\n"), answer) || answer != "s") {
    Wrong("remove big", answer);
  }
  text[0] = '<';  // an offer's text starts with a printable byte
  if (!client.Post(client.Command('s', text), answer) ||
      !IsOfferName(answer.substr(std::min<std::size_t>(1, answer.size())))) {
    Wrong("store of " + std::to_string(megabytes) + " MB", answer);
    return;
  }
  Offer offer;
  offer.name = answer.substr(1);
  offer.text = std::move(text);
  client.OpenOffer(offer.name, &offer);
  if (offer.shown != 1) {
    Wrong("the " + std::to_string(megabytes) + " MB offer was not shown whole");
  }
}

double Percentile(const std::vector<std::uint32_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  std::size_t at = static_cast<std::size_t>(p * (sorted.size() - 1) + 0.5);
  return sorted[at] / 1000.0;
}

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: talvenplan_load --port PORT [--port PORT...] --data DIR "
               "[--clients N] [--seconds T] [--path PATH] "
               "[--login USER:PASSWORD] [--header-only] [--big MB]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  ::curl_global_init(CURL_GLOBAL_DEFAULT);
  Options& o = g_options;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--header-only") {
      o.header_only = true;
    } else if (!has_value) {
      Usage();
    } else if (arg == "--port") {
      o.ports.push_back(std::atoi(argv[++i]));
    } else if (arg == "--login") {
      o.login = argv[++i];
    } else if (arg == "--data") {
      o.data = argv[++i];
    } else if (arg == "--clients") {
      o.clients = std::atoi(argv[++i]);
    } else if (arg == "--seconds") {
      o.seconds = std::atof(argv[++i]);
    } else if (arg == "--path") {
      o.path = argv[++i];
    } else if (arg == "--big") {
      o.big_megabytes = std::atol(argv[++i]);
    } else {
      Usage();
    }
  }
  bool ports_valid = !o.ports.empty();
  for (int port : o.ports)
    ports_valid = ports_valid && port > 0 && port <= 65535;
  if (!ports_valid || !o.data.starts_with("/") || o.clients < 1 ||
      o.clients > kMaxClients || o.seconds <= 0 || o.seconds > 3600 ||
      o.big_megabytes < 0) {
    Usage();
  }

  // The databases, in their first versions (writer 0, number 0).
  Counts setup_counts;
  Client setup(0, setup_counts);
  if (!o.header_only) {
    for (int db = 0; db < kDatabases; ++db) {
      std::string answer;
      std::string name = DatabaseKey(db) + " " + DatabaseName(db) + "\n";
      if (!setup.Post(setup.Command('c', name), answer) || answer != "s" ||
          !setup.Post(setup.Command('p', name) + DatabaseText({db, 0, 0}),
                      answer) ||
          answer != "s") {
        std::fprintf(stderr, "could not set up %s: %s\n",
                     DatabaseName(db).c_str(), answer.c_str());
        return 2;
      }
    }
  }

  std::vector<Counts> counts(static_cast<std::size_t>(o.clients));
  std::vector<std::thread> threads;
  auto start = Clock::now();
  auto end = start + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(o.seconds));
  for (int id = 1; id <= o.clients; ++id) {
    threads.emplace_back([id, end, &counts] {
      Client client(id, counts[static_cast<std::size_t>(id - 1)]);
      client.Run(end);
    });
  }
  for (std::thread& thread : threads) thread.join();
  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  // Offers whose second ticket was not used: open them now, so that each
  // offer has been asked for twice.
  Counts drain_counts;
  Client drain(0, drain_counts);
  while (drain.Open()) {
  }
  long offers = 0;
  for (const auto& offer : g_offers) {
    ++offers;
    if (offer->shown != 1 || offer->gone != 1) {
      Wrong("offer " + offer->name + " shown " +
            std::to_string(offer->shown.load()) + " times, gone " +
            std::to_string(offer->gone.load()) + " times");
    }
  }

  Counts total;
  std::vector<std::uint32_t> micros;
  for (const Counts& c : counts) {
    total.requests += c.requests;
    total.gets += c.gets;
    total.puts += c.puts;
    total.queries += c.queries;
    total.lists += c.lists;
    total.stores += c.stores;
    total.opens += c.opens;
    micros.insert(micros.end(), c.micros.begin(), c.micros.end());
  }
  std::sort(micros.begin(), micros.end());

  if (o.big_megabytes > 0 && !o.header_only)
    BigRequests(setup, o.big_megabytes);

  // Nothing but the databases and the versions their puts kept may be
  // left: no offer, no put's temporary.
  if (!o.header_only) {
    std::set<std::string> expected{".versions"};
    for (int db = 0; db < kDatabases; ++db) expected.insert(DatabaseName(db));
    std::set<std::string> found = DirectoryNames(o.data);
    for (const std::string& name : found) {
      if (!expected.contains(name))
        Wrong("left in the data directory: " + name);
    }
  }

  std::printf(
      "%s, %d client%s, %.1f s: %ld requests, %.0f req/s, latency p50 %.2f "
      "ms, p99 %.2f ms, max %.2f ms\n",
      o.path.c_str() + 1, o.clients, o.clients == 1 ? "" : "s", elapsed,
      total.requests, total.requests / elapsed, Percentile(micros, 0.50),
      Percentile(micros, 0.99), micros.empty() ? 0 : micros.back() / 1000.0);
  if (!o.header_only) {
    std::printf(
        "checked: %ld gets, %ld puts, %ld queries, %ld listings, %ld stores, "
        "%ld offer opens (%ld offers)%s; %ld wrong\n",
        total.gets, total.puts, total.queries, total.lists, total.stores,
        total.opens + drain_counts.opens, offers,
        o.big_megabytes > 0 ? (", a put and a store of " +
                               std::to_string(o.big_megabytes) + " MB")
                                  .c_str()
                            : "",
        g_wrong.load());
  }
  std::fflush(stdout);
  return g_wrong.load() == 0 ? 0 : 1;
}
