#pragma once
// How the engine says whether an operation worked: success, or failure with a short reason
// meant for the user ("No space left on device", "its header gives a frame of 0 x 480 samples").
#include <string>
#include <utility>

namespace serflash::platform {

class [[nodiscard]] status {
public:
    status() = default; // success
    static status failure(std::string reason) {
        status s;
        s.failed_ = true;
        s.reason_ = std::move(reason);
        return s;
    }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // Empty on success.
    const std::string& reason() const { return reason_; }

private:
    bool failed_ = false;
    std::string reason_;
};

} // namespace serflash::platform

namespace serflash::platform {

// A value, or the reason there is none.
template <class T>
class [[nodiscard]] result {
public:
    result(T value) : value_(std::move(value)) {}
    result(status failure) : status_(std::move(failure)) {}

    bool ok() const { return status_.ok(); }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return status_.reason(); }
    const status& outcome() const { return status_; }

    T& value() { return value_; }
    const T& value() const { return value_; }
    T& operator*() { return value_; }
    // For a pointer held (an opened file), the object it points to.
    auto operator->() {
        if constexpr (requires { value_.get(); })
            return value_.get();
        else
            return &value_;
    }

private:
    T value_{};
    status status_;
};

} // namespace serflash::platform
