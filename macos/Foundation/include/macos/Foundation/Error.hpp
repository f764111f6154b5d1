#pragma once

#include <stdexcept>
#include <string>

namespace ns {

// A platform error: a domain, a code and a localized description, thrown and logged with "%@".
class Error : public std::runtime_error {
public:
    Error(std::string domain, long code, const std::string& localizedDescription)
        : std::runtime_error(localizedDescription), domain_(std::move(domain)), code_(code) {}

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    std::string localizedDescription() const { return what(); }

private:
    std::string domain_;
    long code_;
};

// The Cocoa error domain's file codes used here.
namespace CocoaError {
inline constexpr long fileNoSuchFile = 4;
inline constexpr long fileReadUnknown = 256;
inline constexpr long fileReadNoPermission = 257;
inline constexpr long fileReadTooLarge = 263;
inline constexpr long fileWriteUnknown = 512;
inline constexpr long fileWriteNoPermission = 513;
inline constexpr long fileWriteFileExists = 516;
inline constexpr long fileWriteOutOfSpace = 640;
inline constexpr long fileWriteVolumeReadOnly = 642;
inline constexpr long coderReadCorrupt = 4864;
inline constexpr long coderValueNotFound = 4865;
}  // namespace CocoaError

inline constexpr const char* cocoaErrorDomain = "NSCocoaErrorDomain";

}  // namespace ns
