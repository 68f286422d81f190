#include "net/WinLogin.h"

#include <stdexcept>

namespace cw {

// The key of the stored form: the count byte XORed with the component's constant.
static unsigned char LoginKey(size_t count) {
    return static_cast<unsigned char>(count ^ 0x97);
}

std::string TWinLoginComponent::EncodeLoginInfo(const std::string& username,
                                                const std::string& password) {
    const size_t count = 1 + username.size() + password.size();
    if (count > 255 || username.size() > 255)
        throw std::length_error("User name and password are too long to be stored");
    const auto key = LoginKey(count);
    std::string out(1, char(count));
    std::string plain(1, char(username.size()));
    plain += username;
    plain += password;
    for (char c : plain)
        out += char(static_cast<unsigned char>(c) ^ key);
    return out;
}

bool TWinLoginComponent::DecodeLoginInfo(const std::string& data, std::string& username,
                                         std::string& password) {
    if (data.empty())
        return false;
    const auto count = static_cast<unsigned char>(data[0]);
    if (count == 0 || data.size() != size_t(count) + 1)
        return false;
    const auto key = LoginKey(count);
    std::string plain;
    for (size_t i = 1; i < data.size(); ++i)
        plain += char(static_cast<unsigned char>(data[i]) ^ key);
    const auto userLength = static_cast<unsigned char>(plain[0]);
    if (size_t(userLength) + 1 > plain.size())
        return false;
    username = plain.substr(1, userLength);
    password = plain.substr(1 + userLength);
    return true;
}

} // namespace cw
