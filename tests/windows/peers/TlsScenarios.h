#pragma once

// What the Windows secure channel test and its Linux TLS peer agree on: the
// scenario names the peer serves on its ports, and the bytes each side sends.
#include <cstddef>
#include <string>

namespace korvane::test::tls {

// Every scenario the peer serves, one port each (written "name port" to the
// ports file), and the peer's certificate fingerprint ("fingerprint XX:..").
inline constexpr const char* kScenarios[] = {
    "exchange",          // client greeting in, server greeting out, close notification in
    "last-flight-data",  // application data in the same TCP write as the last handshake flight
    "split-record",      // one record in three TCP writes, each read by the client before the next
    "several-records",   // three records in one TCP write
    "close-notify",      // the server's close notification while the client reads
    "cut-record",        // half a record, then the TCP close
    "tcp-close",         // the TCP close without notification
    "silence",           // handshake, then nothing; the client must send nothing either
    "renegotiate",       // TLS 1.2; the server asks for a new handshake, then exchanges data
    "largest",           // the client sends one message of the maximum size
    "garbage",           // the ClientHello is answered with a whole record that is not TLS
    "refused",           // bound, never listening
    "mute",              // the kernel accepts TCP; nothing ever speaks
};

inline constexpr char kClientGreeting[] = "LOADER HELLO\r\n";
inline constexpr char kServerGreeting[] = "SERVER HELLO\r\n";
inline constexpr char kLastFlightData[] = "data behind the last handshake flight";
inline constexpr char kSeveralRecords[3][8] = {"first ", "second ", "third"};
inline constexpr char kCutRecord[] = "a record that never arrives whole";
inline constexpr char kAfterRenegotiation[] = "after the new handshake";
inline constexpr char kReplyAfterRenegotiation[] = "reply under the new keys";
// TLS's largest plaintext record, the maximum message size both platforms report.
inline constexpr std::size_t kLargestMessage = 16384;

// A recognisable text of `length` bytes in which every position differs from its neighbours.
inline std::string patternText(std::size_t length) {
    std::string text(length, '\0');
    for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return text;
}

// The record split across TCP reads.
inline std::string splitRecordText() { return patternText(3000); }

}  // namespace korvane::test::tls
