#pragma once
#include "services/json_document.h"

#include <cstdint>
#include <string>

// The process-wide metrics layer. Start-up calls StartRequestSender and CreateMetricsCollector;
// after the login StartMetrics; at exit StopMetrics and then StopRequestSender.

// Starts an event in the empty `doc`: "event_type" (unsigned) and "time" (UTC, "%Y-%m-%d %H:%M:%S").
void CreateEvent(CKrJsonDocument& doc, uint32_t eventType);
// Hands a deep copy of `doc` to the collector; callable from any thread. Without a collector (before
// start-up made one or after StopMetrics) the event is dropped.
void QueueEvent(const CKrJsonDocument& doc);

// Creates the collector, bound to the request sender that exists now; does nothing when one exists.
void CreateMetricsCollector();
// The first call after the collector's creation stores the identity and starts batching; later calls
// change nothing.
void StartMetrics(uint32_t customerId, const std::string& launcherHash);
// Final flush, then the collector is destroyed with whatever was still queued.
void StopMetrics();

void StartRequestSender();
// `drainMs`: how long requests already handed over may still take to go out.
void StopRequestSender(uint32_t drainMs = 0);

// The metrics endpoint (path "/data/"). The compiled-in default comes from the build
// configuration; the launcher and tests may replace it at any time, later flushes use the new one.
void SetMetricsUrl(const std::string& url);
std::string GetMetricsUrl();

// "%Y-%m-%d %H:%M:%S" of `secondsSince1970` in UTC, for any time from 1970 to 9999.
std::string FormatUtcTime(int64_t secondsSince1970);
