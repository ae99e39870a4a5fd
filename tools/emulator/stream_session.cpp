#include "stream_session.h"

#include <chrono>

#include "decoded_log.h"

namespace vdlemu {

void ListenerList::command(int connection, int sequence, const Command &command) {
    for (StreamListener *listener : listeners_) listener->command(connection, sequence, command);
}

void ListenerList::event(int connection, const std::string &event, const std::string &detail) {
    for (StreamListener *listener : listeners_) listener->event(connection, event, detail);
}

void ListenerList::label(const PrintedLabel &label) {
    for (StreamListener *listener : listeners_) listener->label(label);
}

void FaultLines::command(int connection, int sequence, const Command &command) {
    if (!isFault(command)) return;
    if (++count_ <= kKeptLines) lines_.push_back(commandLine(LogFormat::Text, connection, sequence, command));
}

std::string FaultLines::summary() const {
    return "the stream holds " + std::to_string(count_) + (count_ == 1 ? " command that is" : " commands that are") +
           " not good";
}

std::string FaultLines::text() const {
    std::string text;
    for (const std::string &line : lines_) text += line + "\n";
    if (count_ > lines_.size()) text += "... and " + std::to_string(count_ - lines_.size()) + " more\n";
    return text;
}

StreamSession::StreamSession(int connection, EmulatedPrinter &printer, StreamListener &listener,
                             const ParserOptions &options, Reply reply)
    : connection_(connection), parser_(options), printer_(printer), listener_(listener), reply_(std::move(reply)) {}

void StreamSession::receive(const void *bytes, std::size_t count) {
    // The bytes were read just now: each command they complete arrived now.
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    parser_.feed(bytes, count);
    Command command;
    while (parser_.next(command)) {
        command.receivedAt = now;
        act(command);
    }
}

void StreamSession::finish() {
    Command rest;
    if (parser_.finish(rest)) act(rest);
}

// The answer goes back before the line is logged, so that the log can say
// whether it could be sent; the label printed is handed on after its line.
void StreamSession::act(Command &command) {
    const int sequence = ++sequence_;
    const std::string answer = printer_.handle(command, CommandOrigin{connection_, sequence});
    if (!answer.empty() && reply_ && !reply_(answer)) command.note("problem", "the answer could not be sent");
    listener_.command(connection_, sequence, command);
    if (auto label = printer_.takePrinted()) listener_.label(*label);
}

}  // namespace vdlemu
