#include "service/MqttPassword.h"

#include "cli/OptionFile.h"
#include "cli/ToolMain.h"

#include <cstdlib>

namespace {

constexpr const char *FileOption = "--mqtt-password-file";
constexpr const char *EnvironmentName = "ZEL_MQTT_PASSWORD";

// MQTT 3.1.1 sends a password only with a user name.
void RequireUser(const TMqttUrl &Url, const std::string &Source) {
    if (Url.User.empty())
        throw EToolError(Source + " needs a user name in the --mqtt URL (mqtt://user@host/...)");
}

// The password the file or the environment gives; none when the URL's own stands.
std::optional<std::string> PasswordBesideUrl(const TMqttUrl &Url,
                                             const std::optional<std::string> &PasswordFile) {
    if (PasswordFile) {
        if (Url.HasPassword)
            throw EToolError(std::string(FileOption) +
                             " and a password in the --mqtt URL: give only one");
        RequireUser(Url, FileOption);
        return FirstLineOfFile(FileOption, *PasswordFile);
    }
    const char *Environment = std::getenv(EnvironmentName);
    if (!Environment || !*Environment || Url.HasPassword)
        return std::nullopt;
    RequireUser(Url, EnvironmentName);
    return Environment;
}

} // namespace

void AddMqttPassword(TMqttUrl &Url, const std::optional<std::string> &PasswordFile) {
    if (const auto Password = PasswordBesideUrl(Url, PasswordFile)) {
        Url.Password = *Password;
        Url.HasPassword = true;
    }
}
