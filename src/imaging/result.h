// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cassert>
#include <utility>
#include <variant>

namespace kivo {

// Why the image service could not give what was asked. The viewer turns each into one sentence,
// so keep the cases to what a user can act on.
enum class FailureReason {
    notAFile,    // a folder, FIFO, socket or device: never opened, since reading one can block
    unreadable,  // missing, or no permission to read
    notAnImage,  // not a format Kivo reads
    unsupported, // a format Kivo reads, in a variant it does not
    damaged,     // the format is known but the content is broken or cut short
    tooLarge,    // would exceed the memory budget
    writeFailed, // a rewrite could not be written or put in place; the original is untouched
    noImages,    // a folder that holds no image Kivo reads
};

// A reason and a short message for the log (not for the user: the viewer words the reason).
struct Failure {
    FailureReason reason = FailureReason::damaged;
    QString message;
};

// The value asked for, or why it could not be had. Errors are values: nothing is thrown across
// the image service's boundary.
template <class T>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}
    Result(FailureReason reason, QString message = {})
        : state_(std::in_place_index<1>, Failure{reason, std::move(message)}) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(state_);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(state_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(state_));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Failure& failure() const {
        assert(!ok());
        return std::get<1>(state_);
    }
    FailureReason reason() const { return failure().reason; }

private:
    std::variant<T, Failure> state_;
};

// The reason's name, for logs and kivo-tool.
inline const char* reasonName(FailureReason reason) {
    switch (reason) {
    case FailureReason::notAFile: return "not a regular file";
    case FailureReason::unreadable: return "cannot be read";
    case FailureReason::notAnImage: return "not an image";
    case FailureReason::unsupported: return "unsupported variant";
    case FailureReason::damaged: return "damaged";
    case FailureReason::tooLarge: return "too large for the memory budget";
    case FailureReason::writeFailed: return "could not be written";
    case FailureReason::noImages: return "no images in the folder";
    }
    return "failed";
}

} // namespace kivo
