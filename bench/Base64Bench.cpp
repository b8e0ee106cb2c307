// Base64 throughput: the library beside libb64, a naive decoder and plain copies of the same
// bytes, on the same data in the same run, so the ratios hold even where the absolute numbers
// drift.
#include <benchmark/benchmark.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DocumentGenerator.h"
#include "utilities/Base64.h"

extern "C" {
#include <b64/cdecode.h>
#include <b64/cencode.h>
}

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

// libb64, used the way its documentation shows: one block call and the closing call, into
// buffers sized up front and not zeroed. Its encoder breaks lines every 72 characters.
struct Libb64Result {
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
};

Libb64Result Libb64Encode(const char* data, std::size_t size) {
    Libb64Result text;
    text.data = std::make_unique_for_overwrite<char[]>(size / 3 * 4 + size / 54 + 8);
    base64_encodestate state;
    base64_init_encodestate(&state);
    int length = base64_encode_block(data, static_cast<int>(size), text.data.get(), &state);
    length += base64_encode_blockend(text.data.get() + length, &state);
    text.size = static_cast<std::size_t>(length);
    return text;
}

Libb64Result Libb64Decode(const char* data, std::size_t size) {
    Libb64Result bytes;
    bytes.data = std::make_unique_for_overwrite<char[]>(size / 4 * 3 + 3);
    base64_decodestate state;
    base64_init_decodestate(&state);
    bytes.size = static_cast<std::size_t>(
        base64_decode_block(data, static_cast<int>(size), bytes.data.get(), &state));
    return bytes;
}

void CheckDecoded(benchmark::State& state, const Payload& payload, const std::vector<char>& bytes) {
    if (bytes != payload.bytes) {
        state.SkipWithError("decoded bytes differ from the payload");
    }
}

void CheckDecoded(benchmark::State& state, const Payload& payload, const Libb64Result& bytes) {
    if (bytes.size != payload.bytes.size() ||
        std::memcmp(bytes.data.get(), payload.bytes.data(), bytes.size) != 0) {
        state.SkipWithError("decoded bytes differ from the payload");
    }
}

// libb64 takes int lengths.
bool FitsLibb64(benchmark::State& state, const Payload& payload) {
    if (payload.mime.size() < INT_MAX)
        return true;
    state.SkipWithError("too large for libb64");
    return false;
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

void BM_EncodeLibb64(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    if (!FitsLibb64(state, payload))
        return;
    {
        Libb64Result text = Libb64Encode(payload.bytes.data(), payload.bytes.size());
        CheckDecoded(state, payload, Base64::Decode(text.data.get(), text.size));
    }
    for (auto _ : state) {
        Libb64Result text = Libb64Encode(payload.bytes.data(), payload.bytes.size());
        benchmark::DoNotOptimize(text.data.get());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.bytes.size()));
}

void BM_DecodeLibb64(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    if (!FitsLibb64(state, payload))
        return;
    CheckDecoded(state, payload, Libb64Decode(payload.text.data(), payload.text.size()));
    for (auto _ : state) {
        Libb64Result bytes = Libb64Decode(payload.text.data(), payload.text.size());
        benchmark::DoNotOptimize(bytes.data.get());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.text.size()));
}

void BM_DecodeLibb64Mime(benchmark::State& state) {
    const Payload& payload = PayloadOf(std::size_t(state.range(0)));
    if (!FitsLibb64(state, payload))
        return;
    CheckDecoded(state, payload, Libb64Decode(payload.mime.data(), payload.mime.size()));
    for (auto _ : state) {
        Libb64Result bytes = Libb64Decode(payload.mime.data(), payload.mime.size());
        benchmark::DoNotOptimize(bytes.data.get());
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

}  // namespace

// Payload sizes from --sizes=64KiB,64MiB or KESTREL_BENCH_BASE64_SIZES; the default is one in
// cache and one out of it.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string sizes = "64KiB,64MiB";
    if (const char* set = std::getenv("KESTREL_BENCH_BASE64_SIZES"); set && *set)
        sizes = set;
    for (int i = 1; i < argc;) {
        if (std::string_view(argv[i]).starts_with("--sizes=")) {
            sizes = argv[i] + 8;
            for (int j = i; j + 1 < argc; ++j)
                argv[j] = argv[j + 1];
            --argc;
        } else {
            ++i;
        }
    }
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    std::vector<std::int64_t> payloadSizes;
    for (std::string_view rest = sizes; !rest.empty();) {
        const std::size_t comma = rest.find(',');
        const auto size = kestrelbench::ParseSize(rest.substr(0, comma));
        if (!size) {
            std::cerr << "base64_bench: not a size in --sizes: " << sizes << '\n';
            return 2;
        }
        payloadSizes.push_back(std::int64_t(*size));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    const std::pair<const char*, void (*)(benchmark::State&)> cases[] = {
        {"BM_Encode", BM_Encode},
        {"BM_EncodeLibb64", BM_EncodeLibb64},
        {"BM_Decode", BM_Decode},
        {"BM_DecodeLibb64", BM_DecodeLibb64},
        {"BM_DecodeNaive", BM_DecodeNaive},
        {"BM_Memcpy", BM_Memcpy},
        {"BM_CopyToNewVector", BM_CopyToNewVector},
        {"BM_DecodeMime", BM_DecodeMime},
        {"BM_DecodeLibb64Mime", BM_DecodeLibb64Mime},
        {"BM_DecodeNaiveMime", BM_DecodeNaiveMime},
    };
    for (const auto& [name, function] : cases) {
        benchmark::internal::Benchmark* benchmark = benchmark::RegisterBenchmark(name, function);
        for (std::int64_t size : payloadSizes)
            benchmark->Arg(size);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
