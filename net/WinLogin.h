// Server credentials of the HTTP transfer component and their scrambled stored form.
#pragma once

#include <string>

namespace cw {

// Holds the server credentials. Their stored form ("LInfo") is a count byte N = 1 +
// length(user) + length(password), then N bytes (the user name's length, the user name, the
// password), each XORed with N XOR 0x97.
class TWinLoginComponent {
public:
    std::string Username;
    std::string Password;

    // Throws std::length_error when the two together exceed 254 bytes.
    static std::string EncodeLoginInfo(const std::string& username, const std::string& password);
    // False when data is not a valid stored form.
    static bool DecodeLoginInfo(const std::string& data, std::string& username,
                                std::string& password);
};

} // namespace cw
