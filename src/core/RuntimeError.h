#pragma once

#include <QString>

#include <exception>

namespace kallomir {

// A failure that a handler reports the way every window of the program does:
// "Error " + number + " " + description under a title naming the handler.
class RuntimeError : public std::exception {
public:
    RuntimeError(int number, QString description)
        : number_(number),
          description_(std::move(description)),
          what_(description_.toStdString()) {}

    int number() const noexcept { return number_; }
    const QString& description() const noexcept { return description_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    int number_;
    QString description_;
    std::string what_;
};

// Error numbers the program raises itself; they keep the numbering operators already know.
namespace errors {
inline constexpr int kTypeMismatch = 13;
inline constexpr int kOverflow = 6;
inline constexpr int kFileNotFound = 53;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kDiskFull = 61;
inline constexpr int kDeviceIo = 57;
inline constexpr int kDatabase = 3146;
}  // namespace errors

}  // namespace kallomir
