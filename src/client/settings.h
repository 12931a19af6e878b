// The server's settings that --local hands to the program it runs, as the
// web server configurations hand them to talvenplan.cgi.
#ifndef TALVENPLAN_CLIENT_SETTINGS_H_
#define TALVENPLAN_CLIENT_SETTINGS_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace talvenplan::client {

// What the configurations set: the data tree requests stay in, and how many
// versions of each list a put or remove keeps.
inline constexpr std::string_view kServerSettings[] = {"TALVEN_ROOT",
                                                       "TALVEN_VERSIONS"};

// The installed program, and the settings file that the package's scripts
// (the clean-up, the health check) and --local of that program read.
inline constexpr char kInstalledProgram[] =
    "/usr/lib/talvenplan/talvenplan.cgi";
inline constexpr char kSettingsFile[] = "/etc/default/talvenplan";

// Reads the server settings from the text of a shell file of assignments,
// as /etc/default/talvenplan is written: NAME=VALUE lines, the value bare
// or in single or double quotes, maybe after "export", with comments and
// blank lines between. The last assignment of a name counts, as when the
// shell reads the file. Other names are skipped whatever they hold, but a
// server setting assigned in another way (an expansion, a command) is not
// guessed at: the result is then a problem naming its line, else empty.
std::string ReadSettings(std::string_view text,
                         std::map<std::string, std::string>& settings);

// The environment entries ("NAME=value") for the program: each server
// setting as `environment` holds it (set, even if empty), else as the
// settings file gives it, else none.
std::vector<std::string> ProgramSettings(
    const std::map<std::string, std::string>& environment,
    const std::map<std::string, std::string>& file);

}  // namespace talvenplan::client

#endif  // TALVENPLAN_CLIENT_SETTINGS_H_
