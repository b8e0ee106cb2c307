// Base64 throughput: the library beside a naive decoder and plain copies of the same bytes, on the
// same data in the same run, so the ratios hold even where the absolute numbers drift.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "utilities/Base64.h"

namespace {

struct Payload {
    std::vector<char> bytes;
    std::string text;  // Base64 of bytes, one line
    std::string mime;  // the same in lines of 76 characters ending in CR LF
};

// Made once per size; the 64 MiB ones take a moment.
const Payload& PayloadOf(std::size_t size) {
    static std::map<std::size_t, Payload> payloads;
    auto [it, made] = payloads.try_emplace(size);
    Payload& payload = it->second;
    if (made) {
        payload.bytes.resize(size);
        std::uint64_t state = size;  // splitmix64: fast, and the same bytes every run
        for (std::size_t i = 0; i < size; i += 8) {
            std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            z ^= z >> 31;
            std::memcpy(payload.bytes.data() + i, &z, std::min<std::size_t>(8, size - i));
        }
        payload.text = Base64::Encode(payload.bytes.data(), payload.bytes.size());
        payload.mime.reserve(payload.text.size() / 76 * 78 + 78);
        for (std::size_t i = 0; i < payload.text.size(); i += 76) {
            payload.mime.append(payload.text, i, 76).append("\r\n");
        }
    }
    return payload;
}

// What a decoder written in a hurry looks like: a chain of tests per character and a push_back
// per byte. It skips white space and stops at '=' or anything else, with no error reporting.
std::vector<char> NaiveDecode(const char* data, std::size_t size) {
    std::vector<char> bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        std::uint32_t sextet;
        if (c >= 'A' && c <= 'Z') {
            sextet = std::uint32_t(c - 'A');
        } else if (c >= 'a' && c <= 'z') {
            sextet = std::uint32_t(c - 'a' + 26);
        } else if (c >= '0' && c <= '9') {
            sextet = std::uint32_t(c - '0' + 52);
        } else if (c == '+') {
            sextet = 62;
        } else if (c == '/') {
            sextet = 63;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        } else {
            break;
        }
        bits = bits << 6 | sextet;
        if (++count == 4) {
            bytes.push_back(char(bits >> 16));
            bytes.push_back(char(bits >> 8));
            bytes.push_back(char(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count >= 2) {
        bits <<= 6 * (4 - count);
        bytes.push_back(char(bits >> 16));
        if (count == 3) {
            bytes.push_back(char(bits >> 8));
        }
    }
    return bytes;
}

void CheckDecoded(benchmark::State& state, const Payload& payload, const std::vector<char>& bytes) {
    if (bytes != payload.bytes) {
        state.SkipWithError("decoded bytes differ from the payload");
    }
}

// Every case counts the bytes it reads: payload bytes for Encode, text bytes for the rest.

void BM_Encode(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    for (auto _ : state) {
        std::string text = Base64::Encode(payload.bytes.data(), payload.bytes.size());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.bytes.size()));
}

void BM_Decode(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    CheckDecoded(state, payload, Base64::Decode(payload.text.data(), payload.text.size()));
    for (auto _ : state) {
        std::vector<char> bytes = Base64::Decode(payload.text.data(), payload.text.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.text.size()));
}

void BM_DecodeNaive(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    CheckDecoded(state, payload, NaiveDecode(payload.text.data(), payload.text.size()));
    for (auto _ : state) {
        std::vector<char> bytes = NaiveDecode(payload.text.data(), payload.text.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.text.size()));
}

void BM_DecodeMime(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    CheckDecoded(state, payload, Base64::Decode(payload.mime.data(), payload.mime.size()));
    for (auto _ : state) {
        std::vector<char> bytes = Base64::Decode(payload.mime.data(), payload.mime.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.mime.size()));
}

void BM_DecodeNaiveMime(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    CheckDecoded(state, payload, NaiveDecode(payload.mime.data(), payload.mime.size()));
    for (auto _ : state) {
        std::vector<char> bytes = NaiveDecode(payload.mime.data(), payload.mime.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.mime.size()));
}

// The floor: copying the text into a buffer that is already there.
void BM_Memcpy(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    std::vector<char> copy(payload.text.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), payload.text.data(), payload.text.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.text.size()));
}

// The floor for anything that hands back a new vector: allocation and first touch included.
void BM_CopyToNewVector(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    for (auto _ : state) {
        std::vector<char> copy(payload.text.begin(), payload.text.end());
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.text.size()));
}

constexpr std::int64_t kInCache = 64 << 10;
constexpr std::int64_t kOutOfCache = 64 << 20;

BENCHMARK(BM_Encode)->Arg(kInCache)->Arg(kOutOfCache);
BENCHMARK(BM_Decode)->Arg(kInCache)->Arg(kOutOfCache);
BENCHMARK(BM_DecodeNaive)->Arg(kInCache)->Arg(kOutOfCache);
BENCHMARK(BM_Memcpy)->Arg(kInCache)->Arg(kOutOfCache);
BENCHMARK(BM_CopyToNewVector)->Arg(kInCache)->Arg(kOutOfCache);
BENCHMARK(BM_DecodeMime)->Arg(kInCache)->Arg(kOutOfCache);
BENCHMARK(BM_DecodeNaiveMime)->Arg(kInCache)->Arg(kOutOfCache);

}  // namespace

BENCHMARK_MAIN();
