#include "label_store.h"

#include <algorithm>

namespace vdlemu {

namespace {

std::size_t bytesOf(const LabelStore::Label &label) {
    std::size_t bytes = label.printed.png.size();
    for (const std::string &line : label.lines) bytes += line.size();
    return bytes;
}

}  // namespace

void LabelStore::command(int connection, int sequence, const Command &command) {
    LogLine line{commandLine(LogFormat::Text, connection, sequence, command),
                 commandLine(LogFormat::Json, connection, sequence, command)};
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.lines.size() < kMaxLinesPerLabel && pendingBytes_ + line.json.size() <= kMaxLineBytesPerLabel) {
        pending_.lines.push_back(line.json);
        pendingBytes_ += line.json.size();
    } else {
        ++pending_.linesLeftOut;
    }
    keepLogLine(std::move(line));
}

void LabelStore::event(int connection, const std::string &event, const std::string &detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    keepLogLine({eventLine(LogFormat::Text, connection, event, detail), eventLine(LogFormat::Json, connection, event, detail)});
}

void LabelStore::keepLogLine(LogLine line) {
    logBytes_ += line.text.size() + line.json.size();
    log_.push_back(std::move(line));
    while (!log_.empty() && (log_.size() > kMaxLogLines || logBytes_ > kMaxLogBytes)) {
        logBytes_ -= log_.front().text.size() + log_.front().json.size();
        log_.pop_front();
    }
}

void LabelStore::label(const PrintedLabel &printed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto kept = std::make_shared<Label>(std::move(pending_));
        kept->printed = printed;
        pending_ = Label();
        pendingBytes_ = 0;
        labelBytes_ += bytesOf(*kept);
        labels_.push_back(std::move(kept));
        newest_ = printed.number;
        while (!labels_.empty() && (labels_.size() > kMaxLabels || labelBytes_ > kMaxLabelBytes)) {
            labelBytes_ -= bytesOf(*labels_.front());
            labels_.pop_front();
        }
    }
    changed_.notify_all();
}

std::vector<std::shared_ptr<const LabelStore::Label>> LabelStore::labels() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {labels_.begin(), labels_.end()};
}

std::shared_ptr<const LabelStore::Label> LabelStore::find(int number) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto &label : labels_)
        if (label->printed.number == number) return label;
    return nullptr;
}

std::string LabelStore::log(LogFormat format) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const LogLine &line : log_) text.append(format == LogFormat::Json ? line.json : line.text).append("\n");
    return text;
}

int LabelStore::waitForLabel(int seen, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return newest_ > seen || closed_; });
    return newest_;
}

void LabelStore::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

bool LabelStore::closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

}  // namespace vdlemu
