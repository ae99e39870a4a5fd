// The decoded log: one line per command received, with its fields named,
// as text or as JSON lines; and one line per connection opened or closed.
#ifndef VDL_EMULATOR_DECODED_LOG_H
#define VDL_EMULATOR_DECODED_LOG_H

#include <cstdio>
#include <string>

#include "decoded_command.h"
#include "stream_session.h"

namespace vdlemu {

enum class LogFormat { Text, Json };

// The line for one command (without the line feed). connection and sequence
// number the connections from 1 and the commands within each from 1.
std::string commandLine(LogFormat format, int connection, int sequence, const Command &command);
std::string eventLine(LogFormat format, int connection, const std::string &event, const std::string &detail);

class DecodedLog : public StreamListener {
public:
    DecodedLog(std::FILE *out, LogFormat format) : out_(out), format_(format) {}

    void command(int connection, int sequence, const Command &command) override {
        write(commandLine(format_, connection, sequence, command));
    }
    void event(int connection, const std::string &event, const std::string &detail) override {
        write(eventLine(format_, connection, event, detail));
    }

private:
    // Each line is flushed at once, so the log can be followed while it grows.
    void write(const std::string &line);

    std::FILE *out_;
    LogFormat format_;
};

}  // namespace vdlemu

#endif
