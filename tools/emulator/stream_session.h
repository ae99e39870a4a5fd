// One command stream (a connection, a file, a request's body) decoded and
// acted on: the parser, the command numbering and the printer they drive,
// and what comes out of it, in order: a log line for each command and event,
// and each label printed. The printer port, the offline renderer and the
// render service all decode through it.
#ifndef VDL_EMULATOR_STREAM_SESSION_H
#define VDL_EMULATOR_STREAM_SESSION_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "decoded_command.h"
#include "emulated_printer.h"
#include "parser.h"

namespace vdlemu {

class StreamListener {
public:
    virtual ~StreamListener() = default;
    // connection and sequence number the connections from 1 and the commands within each from 1.
    virtual void command(int connection, int sequence, const Command &command) = 0;
    virtual void event(int connection, const std::string &event, const std::string &detail) = 0;
    // After the line of the print command that printed it.
    virtual void label(const PrintedLabel &) {}
};

// Hands everything on to each of several listeners, in the order added.
class ListenerList : public StreamListener {
public:
    void add(StreamListener &listener) { listeners_.push_back(&listener); }
    void command(int connection, int sequence, const Command &command) override;
    void event(int connection, const std::string &event, const std::string &detail) override;
    void label(const PrintedLabel &label) override;

private:
    std::vector<StreamListener *> listeners_;
};

// True for what is not a good command: unknown bytes, a malformed command, a
// command the stream ended inside of.
inline bool isFault(const Command &command) { return command.outcome != Outcome::Decoded; }

// The text log lines of the faults of a stream, the first kKeptLines of them
// (a strict run prints them, a refused request answers them).
class FaultLines : public StreamListener {
public:
    static constexpr std::size_t kKeptLines = 100;

    void command(int connection, int sequence, const Command &command) override;
    void event(int, const std::string &, const std::string &) override {}

    std::size_t count() const { return count_; }
    const std::vector<std::string> &lines() const { return lines_; }
    std::string summary() const;  // "the stream holds 2 commands that are not good"
    std::string text() const;  // the lines, each ended by a line feed, and how many more there were

private:
    std::size_t count_ = 0;
    std::vector<std::string> lines_;
};

class StreamSession {
public:
    // Sends the answer to a query back; false when it could not be sent.
    using Reply = std::function<bool(const std::string &answer)>;

    StreamSession(int connection, EmulatedPrinter &printer, StreamListener &listener, const ParserOptions &options,
                  Reply reply = nullptr);

    int connection() const { return connection_; }
    // Commands taken whole so far.
    int commands() const { return sequence_; }

    // Bytes as they arrive, in any pieces.
    void receive(const void *bytes, std::size_t count);
    // The stream ended: what was left unfinished is logged as truncated.
    void finish();

private:
    void act(Command &command);

    int connection_;
    int sequence_ = 0;
    Parser parser_;
    EmulatedPrinter &printer_;
    StreamListener &listener_;
    Reply reply_;
};

}  // namespace vdlemu

#endif
