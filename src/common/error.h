#pragma once

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrova {

// Which message an Error carries; the list and both of its texts (English for the
// command-line tool, Japanese for the window) are the catalogue in app/messages.h.
enum class MessageId : int;

// The English text of a message with its arguments. Defined with the catalogue.
std::string EnglishMessage(MessageId id, const std::vector<std::string>& args);

// A condition the user has to hear about: a file that cannot be read or written, a
// record that cannot be understood, a setting that makes the output meaningless.
// what() is the UTF-8 English text, complete enough to act on (it names the file and
// line where one is involved). An Error raised with a message id also keeps the id
// and its arguments, so that the window can say the same in Japanese; one raised with
// a text only is shown as it is everywhere.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& text) : std::runtime_error(text) {}
  explicit Error(const char* text) : std::runtime_error(text) {}
  // systemError: the errno value behind the failure, or 0; the English text takes the
  // system's reason from the arguments, the Japanese one may say it in Japanese.
  Error(MessageId id, std::vector<std::string> args, int systemError = 0)
      : std::runtime_error(EnglishMessage(id, args)),
        id_(id),
        hasId_(true),
        args_(std::move(args)),
        systemError_(systemError) {}

  // cause: the failure behind this one, whose English text is the last argument; the
  // window says the cause in its own words where it was raised with an id.
  Error(MessageId id, std::vector<std::string> args, const Error* cause)
      : Error(id, std::move(args)) {
    if (cause != nullptr && cause->HasId()) cause_ = std::make_shared<const Error>(*cause);
  }

  bool HasId() const { return hasId_; }
  MessageId Id() const { return id_; }
  const std::vector<std::string>& Args() const { return args_; }
  int SystemError() const { return systemError_; }
  const Error* Cause() const { return cause_.get(); }

 private:
  MessageId id_{};
  bool hasId_ = false;
  std::vector<std::string> args_;
  int systemError_ = 0;
  std::shared_ptr<const Error> cause_;
};

}  // namespace kestrova
