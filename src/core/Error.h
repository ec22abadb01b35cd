#pragma once

#include <QString>

#include <stdexcept>

// The one error type of the project. It carries the message for the user as the QString it was made
// from, so the error box shows it without a round trip through bytes; what() gives the same text in
// UTF-8 for code that only knows the standard exceptions.
class TError : public std::runtime_error {
  public:
    explicit TError(const QString& message);

    const QString& Message() const noexcept { return FMessage; }

  private:
    QString FMessage;
};

// Raised where an operation ends because the user asked it to stop. Its message says what was stopped
// and what was left as it was; the window logs it instead of showing an error box.
class TOperationStopped : public TError {
  public:
    using TError::TError;
};

// The system's own text for an error number (errno), as the user's locale words it.
QString SystemErrorText(int errorNumber);

// The message of any exception: a TError's own text, or the UTF-8 text of what() for the others.
QString MessageOf(const std::exception& error);
