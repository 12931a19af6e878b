// Confinement to TALVEN_ROOT, seen from outside the program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "harness.h"

namespace talvenplan::testing {
namespace {

const std::string kRefused =
    std::string(kHeader) + "fscan't change directory on server";

bool Listed(const CgiResult& result) {
  // Every listed directory holds a file "a"; the order is the directory's.
  const std::string head = std::string(kHeader) + "s";
  return result.status == 0 && result.err.empty() &&
         result.out.starts_with(head) &&
         (result.out.compare(head.size(), 2, "a\n") == 0 ||
          result.out.find("\na\n", head.size()) != std::string::npos);
}

struct Layout {
  Layout() {
    for (const char* name : {"data", "data/shop", "data2"}) {
      MakeDirectory(dir.Path(name));
    }
    WriteFile(dir.Path("data/a"), "");
    WriteFile(dir.Path("data/shop/a"), "");
    WriteFile(dir.Path("data2/a"), "");
    Link(dir.Path("data2"), dir.Path("data/escape"));
    Link(dir.Path("data/shop"), dir.Path("shortcut"));
    Link(dir.Path("data"), dir.Path("root-link"));
  }
  static void MakeDirectory(const std::string& path) {
    ASSERT_EQ(::mkdir(path.c_str(), 0777), 0) << path;
  }
  static void Link(const std::string& target, const std::string& path) {
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
  }
  TempDir dir;
};

// Where a listing may look: `directory` as the request names it, under the
// root TALVEN_ROOT names (none where null), from where the program starts.
// "@" stands for the test's directory, which holds the layout.
TEST(ConfineTest, ListingsStayBelowTheRoot) {
  struct Case {
    const char* label;
    std::string directory;
    const char* root;
    std::string start;  // "": the test's directory
    bool served;
  } cases[] = {
      {"the root", "@/data", "@/data", "", true},
      {"below the root", "@/data/shop", "@/data", "", true},
      {"relative to the start", "data/shop", "@/data", "", true},
      {"a link into the root", "shortcut", "@/data", "", true},
      {"the root with a slash", "@/data/shop", "@/data/", "", true},
      {"the root through a link", "@/data", "@/root-link", "", true},
      {"a relative root", "data/shop", "data", "", true},
      {"no root", "data2", nullptr, "", true},
      {"beside the root", "@/data2", "@/data", "", false},
      {"above the root", "@", "@/data", "", false},
      {"up from the root", "@/data/..", "@/data", "", false},
      {"up from below the root", "@/data/shop/../..", "@/data", "", false},
      {"a link out of the root", "@/data/escape", "@/data", "", false},
      {"the file system's root", "/", "@/data", "", false},
      {"relative, outside the root", "data2", "@/data", "", false},
      {"outside a relative root", "@/data2", "data", "", false},
      // Started inside the data folder, "." is that folder, not the
      // request's directory.
      {"outside the root \".\"", "@/data2", ".", "data", false},
      {"the file system's root, root \".\"", "/", ".", "data", false},
      {"a missing root", "@/data", "@/gone", "", false},
  };
  Layout layout;
  auto in_layout = [&layout](std::string path) {
    if (path.starts_with('@')) path.replace(0, 1, layout.dir.path);
    return path;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> env;
    if (c.root != nullptr) env.push_back("TALVEN_ROOT=" + in_layout(c.root));
    const std::string start =
        c.start.empty() ? layout.dir.path : layout.dir.Path(c.start);
    CgiResult result =
        RunCommand("l\n" + in_layout(c.directory) + "\n", start, env);
    if (c.served) {
      EXPECT_TRUE(Listed(result)) << result.out;
    } else {
      EXPECT_EQ(result.out, kRefused);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.err, "");
    }
  }
}

TEST(ConfineTest, OfferLinksStayBelowTheRoot) {
  Layout layout;
  WriteFile(layout.dir.Path("data/.aB3dE9"), "inside");
  WriteFile(layout.dir.Path("data2/.aB3dE9"), "outside");
  auto open = [&](const std::string& directory, const std::string& root,
                  const std::string& start) {
    CgiRun run;
    run.env = {"QUERY_STRING=" + OfferLinkQuery(".aB3dE9", directory),
               "TALVEN_ROOT=" + root};
    run.cwd = start;
    return RunCgi(run);
  };
  const std::string root = layout.dir.Path("data");
  for (const CgiResult& escaped :
       {open(layout.dir.Path("data/escape"), root, layout.dir.path),
        // A relative root is taken from where the program starts.
        open(layout.dir.Path("data2"), ".", root)}) {
    EXPECT_EQ(escaped.out,
              std::string(kHeader) +
                  "error on server:can't change directory on server");
    EXPECT_EQ(escaped.status, 0);
    EXPECT_TRUE(Exists(layout.dir.Path("data2/.aB3dE9")));
  }

  CgiResult inside = open("data", root, layout.dir.path);
  EXPECT_NE(inside.out.find("inside</body>"), std::string::npos);
  EXPECT_FALSE(Exists(layout.dir.Path("data/.aB3dE9")));
}

TEST(ConfineTest, DatabaseNamesWithASlashCannotBeOpened) {
  Layout layout;
  const std::string db = "k\n0\n0\n\"\"\n0\n0\n0\n";
  WriteFile(layout.dir.Path("data/shop/db"), db);
  WriteFile(layout.dir.Path("data2/db"), db);
  const std::string cant_open =
      std::string(kHeader) + "fscan't open database on server";
  const std::string refused = std::string(kHeader) + "s!";
  struct {
    std::string body;
    std::string answer;
  } cases[] = {
      {"c\n.\nk shop/new\n", cant_open},
      {"p\n.\nk shop/db\nx\n", cant_open},
      {"r\n.\nk shop/db\n", cant_open},
      {"g\n.\nk shop/db\n", refused},
      {"q\n.\nk shop/db\n", refused},
      {"g\n.\nk ../data2/db\n", refused},
      {"g\n.\nk " + layout.dir.Path("data2/db") + "\n", refused},
  };
  for (const auto& c : cases) {
    CgiResult result = RunCommand(c.body, layout.dir.Path("data"),
                                  {"TALVEN_ROOT=" + layout.dir.Path("data")});
    EXPECT_EQ(result.out, c.answer) << c.body;
    EXPECT_EQ(result.status, c.answer == refused ? 0 : 1) << c.body;
  }
  EXPECT_EQ(ReadFile(layout.dir.Path("data/shop/db")), db);
  EXPECT_FALSE(Exists(layout.dir.Path("data/shop/new")));
  // Without the root, such names are used as they are.
  CgiResult free = RunCommand("g\n.\nk shop/db\n", layout.dir.Path("data"));
  EXPECT_EQ(free.out, std::string(kHeader) + "sk\n0\n0\n\"\"\n0\n0\n0\n");
}

// A database name inside the root may be a link. One whose target lies
// inside the root works, put writing through it; one that leads out is a
// file that cannot be opened, for every command, and the outside file is
// neither read nor changed.
TEST(ConfineTest, DatabaseLinksMustResolveInsideTheRoot) {
  Layout layout;
  const std::string root = layout.dir.Path("data");
  const std::string db = "k\n0\n0\n\"\"\n0\n0\n0\n";
  const std::string secret = "k\n1\nf 2\nA\nB\n1\nsecret 10\n";
  WriteFile(layout.dir.Path("data2/secret"), secret);
  WriteFile(layout.dir.Path("data/shop/db"), db);
  Layout::Link(layout.dir.Path("data2/secret"), root + "/shop/absolute-out");
  Layout::Link("../../data2/secret", root + "/shop/relative-out");
  Layout::Link("../escape/secret", root + "/shop/via-link-out");
  Layout::Link(root + "/shop/db", root + "/shop/absolute-in");
  Layout::Link("../shop/db", root + "/shop/relative-in");
  // With the kernel's openat2; as on a kernel without it (ENOSYS) or in a
  // container that filters it (EPERM); and with openat2 asking to be tried
  // again because a rename happened elsewhere on the system (EAGAIN).
  for (int error : {0, ENOSYS, EPERM, EAGAIN}) {
    if (error != 0 && !CanInjectFaults()) break;
    SCOPED_TRACE(error == 0 ? "openat2" : std::strerror(error));
    auto run = [&](const std::string& body) {
      CgiRun run;
      run.env = {"TALVEN_ROOT=" + root};
      run.cwd = root + "/shop";
      if (error != 0) run.fault = {SYS_openat2, -1, 1, error != EAGAIN, error};
      return RunCommand(body, run);
    };
    WriteFile(root + "/shop/db", db);
    const std::string cant_open = kHeader + "fscan't open database on server";
    for (const char* name : {"absolute-out", "relative-out", "via-link-out"}) {
      SCOPED_TRACE(name);
      const std::string n = name;
      EXPECT_EQ(run("g\n.\nk " + n + "\n").out, kHeader + "s!");
      EXPECT_EQ(run("q\n.\nf " + n + "\n").out, kHeader + "s!");
      CgiResult put = run("p\n.\nk " + n + "\nk\nnew\n");
      EXPECT_EQ(put.out, cant_open);
      EXPECT_EQ(put.status, 1);
      CgiResult remove = run("r\n.\nk " + n + "\n");
      EXPECT_EQ(remove.out, cant_open);
      EXPECT_EQ(remove.status, 1);
      EXPECT_EQ(ReadFile(layout.dir.Path("data2/secret")), secret);
    }
    EXPECT_EQ(ListNames(layout.dir.Path("data2")), (Names{"a", "secret"}));

    for (const char* name : {"absolute-in", "relative-in"}) {
      SCOPED_TRACE(name);
      const std::string n = name;
      EXPECT_EQ(run("g\n.\nk " + n + "\n").out,
                kHeader + "s" + ReadFile(root + "/shop/db"));
      const std::string text = "k\n" + n + "\n";
      EXPECT_EQ(run("p\n.\nk " + n + "\n" + text).out, kHeader + "s");
      EXPECT_EQ(ReadFile(root + "/shop/db"), text);
      struct stat st {};
      ASSERT_EQ(::lstat((root + "/shop/" + n).c_str(), &st), 0);
      EXPECT_TRUE(S_ISLNK(st.st_mode));  // the link stays
    }
    EXPECT_EQ(ListNames(root + "/shop"),
              (Names{"a", "absolute-in", "absolute-out", "db", "relative-in",
                     "relative-out", "via-link-out"}));
  }
}

}  // namespace
}  // namespace talvenplan::testing
