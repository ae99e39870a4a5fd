// What the printer port has received, kept for the render service to show:
// the last labels printed, each as its PNG with the log lines of its
// commands, and the last lines of the log. Bounded in count and in bytes;
// the oldest go first. Written by the printer port, read by the service's
// threads.
#ifndef VDL_EMULATOR_LABEL_STORE_H
#define VDL_EMULATOR_LABEL_STORE_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "decoded_log.h"
#include "stream_session.h"

namespace vdlemu {

class LabelStore : public StreamListener {
public:
    struct Label {
        PrintedLabel printed;
        // The JSON log lines of the commands since the label before (of any
        // connection), its print command last; those past the bounds are counted.
        std::vector<std::string> lines;
        std::size_t linesLeftOut = 0;
    };

    static constexpr std::size_t kMaxLabels = 100;
    static constexpr std::size_t kMaxLabelBytes = std::size_t(64) << 20;  // PNGs and lines of the labels kept
    static constexpr std::size_t kMaxLinesPerLabel = 2000;
    static constexpr std::size_t kMaxLineBytesPerLabel = std::size_t(1) << 20;
    static constexpr std::size_t kMaxLogLines = 10000;
    static constexpr std::size_t kMaxLogBytes = std::size_t(16) << 20;

    void command(int connection, int sequence, const Command &command) override;
    void event(int connection, const std::string &event, const std::string &detail) override;
    void label(const PrintedLabel &label) override;

    std::vector<std::shared_ptr<const Label>> labels() const;  // oldest first
    std::shared_ptr<const Label> find(int number) const;       // null when not (or no longer) kept
    std::string log(LogFormat format) const;                   // the lines kept, each ended by a line feed

    // The number of the newest label kept once it is newer than `seen`, or
    // when `timeout` passes or the store is closed; 0 before the first.
    int waitForLabel(int seen, std::chrono::milliseconds timeout) const;
    // Wakes every waiter for good (the server stops).
    void close();
    bool closed() const;

private:
    struct LogLine {
        std::string text;
        std::string json;
    };
    void keepLogLine(LogLine line);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::shared_ptr<const Label>> labels_;
    std::size_t labelBytes_ = 0;
    Label pending_;  // the lines of the label being composed
    std::size_t pendingBytes_ = 0;
    std::deque<LogLine> log_;
    std::size_t logBytes_ = 0;
    int newest_ = 0;
    bool closed_ = false;
};

}  // namespace vdlemu

#endif
