// SHA-256 against the FIPS 180-4 examples, fed whole and in pieces, and the table of drivers the
// program accepts.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "agpcfg/driver_digest.h"
#include "sim/process.h"

namespace {

std::string hexOf(const BYTE* digest) {
    std::string text;
    char byte[3];
    for (DWORD i = 0; i < SHA256_DIGEST_SIZE; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", digest[i]);
        text += byte;
    }
    return text;
}

// Hashes `repeat` copies of `text`, added `piece` bytes at a time.
std::string sha256Of(const std::string& text, size_t repeat, size_t piece) {
    std::string data;
    for (size_t i = 0; i < repeat; ++i)
        data += text;
    Sha256 hash;
    sha256Start(&hash);
    for (size_t at = 0; at < data.size(); at += piece)
        sha256Add(&hash, data.data() + at, (DWORD)std::min(piece, data.size() - at));
    BYTE digest[SHA256_DIGEST_SIZE];
    sha256Finish(&hash, digest);
    return hexOf(digest);
}

struct Vector {
    const char* name;
    const char* text;
    size_t repeat;
    const char* digest;
};

const Vector kVectors[] = {
    {"Empty", "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"Abc", "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    // 56 bytes: the length no longer fits the first block's padding.
    {"TwoBlocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"MillionA", "a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    // 64 bytes exactly: one whole block, then a block of padding alone.
    {"OneBlock", "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", 1,
     "a8ae6e6ee929abea3afcfc5258c8ccd6f85273e0d4626d26c7279f3250f77c8e"},
};

class Sha256Vectors : public testing::TestWithParam<Vector> {};

TEST_P(Sha256Vectors, MatchWhateverThePiecesAre) {
    const Vector& v = GetParam();
    for (size_t piece : {size_t(1), size_t(3), size_t(63), size_t(64), size_t(65), size_t(1000)}) {
        SCOPED_TRACE(testing::Message() << piece << "-byte pieces");
        EXPECT_EQ(v.digest, sha256Of(v.text, v.repeat, piece));
    }
}

INSTANTIATE_TEST_SUITE_P(Fips180, Sha256Vectors, testing::ValuesIn(kVectors),
                         [](const testing::TestParamInfo<Vector>& info) {
                             return std::string(info.param.name);
                         });

// The build takes the driver's digest with its own tool; the program's hash of the same file
// must be among the accepted ones, and a byte more or less must not.
TEST(AcceptedDrivers, AreTheDriverOfThisBuildOnly) {
    std::ifstream in(sim::builtDriverPath(), std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(image.empty()) << sim::builtDriverPath();
    const BYTE* bytes = reinterpret_cast<const BYTE*>(image.data());
    EXPECT_TRUE(isAcceptedDriver(bytes, (DWORD)image.size()));
    EXPECT_FALSE(isAcceptedDriver(bytes, (DWORD)image.size() - 1));
    std::string longer = image + '\n';
    EXPECT_FALSE(
        isAcceptedDriver(reinterpret_cast<const BYTE*>(longer.data()), (DWORD)longer.size()));
    EXPECT_EQ(1u, acceptedDriverTable.count);
}

} // namespace
