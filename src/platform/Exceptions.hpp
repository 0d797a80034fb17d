// The errors that the file layer raises and that nothing in the update chain
// catches: they end the click handler and are shown in the error box, with
// exactly these texts.
#pragma once

#include <stdexcept>
#include <string>

namespace platform {

/// A buffer could not be saved as a file.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// The file could not be opened for writing. Message:
/// `Cannot create file "<full path>". <the system's message for the error>`.
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

/// Fewer bytes were written than the buffer holds. Message: "Stream write error".
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
};

/// A profile value could not be written. Message: "Unable to write to <full path>".
class EIniFileException : public std::runtime_error {
 public:
  explicit EIniFileException(const std::string& path)
      : std::runtime_error("Unable to write to " + path) {}
};

/// The system's message for an error number, as the error texts quote it:
/// trailing blanks, control characters and periods removed.
std::string SystemErrorMessage(int error_number);

}  // namespace platform
