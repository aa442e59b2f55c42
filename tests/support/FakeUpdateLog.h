// An update log in memory: keeps what runs appended, stamped with fixed values, and fails on
// demand.
#pragma once

#include "protocol/UpdateLog.h"

#include <mutex>
#include <string>
#include <vector>

namespace crenovix::testsupport {

class CFakeUpdateLog final : public IUpdateLog {
public:
    SLogAppend Append(SUpdateRecord record) override {
        const std::lock_guard lock(mutex_);
        if (!failure.empty()) {
            return {false, failure};
        }
        record.time = "2026-01-02T03:04:05.006Z";
        record.programVersion = "9.9.9";
        record.host = "bench";
        records.push_back(std::move(record));
        return {};
    }

    std::vector<SUpdateRecord> records;
    std::string failure; // set: every append fails with it
    std::mutex mutex_;
};

} // namespace crenovix::testsupport
