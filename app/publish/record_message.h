// A log record as the message that carries it to the broker. The payload is
// {"id": ID, "record": RECORD}, RECORD being the log's line as it is; ID is
// "STATION/VISIT/KIND" with STATION the record's `station` field, or its
// `host` and `station_start` ("HOST@START") in records that have none. A
// consumer that gets an id twice (a crash between the broker's
// acknowledgement and the cursor's write) drops the second.
// dist/mqtt/record-message.schema.json describes it.
#pragma once

#include <optional>
#include <string>

namespace wxr::publish {

struct RecordMessage {
    std::string id;
    std::string payload;
    std::optional<long long> time;  // record_time() of its line
};

// nullopt for a line that is no record (a line torn by a crash and ended by
// the next record, or not JSON at all): it is never sent.
std::optional<RecordMessage> record_message(const std::string& line);

// A record's `time` ("2026-12-10T01:52:00Z", UTC) in Unix seconds; nullopt
// for a line without one.
std::optional<long long> record_time(const std::string& line);

// The station's id as records without a `station` field give it.
std::string station_id(const std::string& host, const std::string& station_start);

}  // namespace wxr::publish
