#pragma once
#include <cstdint>
#include <string>

struct curl_slist;

// "Authorization: <scheme> CustomerID=<id>, Mac=<hex>" where hex is the lowercase HMAC-SHA1 of
// `body` under `key`; the id is printed as a signed 32-bit number, as the services expect.
std::string BuildAuthorizationLine(const char* body, uint32_t customerId, const char* key,
                                   const std::string& scheme);

// The header list of a signed request: "Content-Type: <contentType>", "Accept: */*" and the
// Authorization line. The caller owns the list (PerformHttpPost takes it over); null when out of
// memory.
curl_slist* BuildSignedHeaders(const char* body, uint32_t customerId, const char* key,
                               const std::string& scheme, const std::string& contentType);
