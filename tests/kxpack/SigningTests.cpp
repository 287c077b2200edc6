// Signed installers, with a real signing tool and a throwaway certificate
// made for the run: kxpack builds, osslsigncode signs and verifies, and
// kxpack verify, list and extract read the signed file like the unsigned one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "KxpackTestSupport.h"
#include "archive/PackageFormat.h"

namespace kxtest {
namespace {

struct Output {
    int exitCode = -1;
    std::string text;  // standard output and standard error together
};

Output Shell(const std::string& command) {
    Output result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.text.append(buffer, got);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quote(const std::string& path) { return "'" + path + "'"; }

// Deterministic bytes that do not compress.
std::string Noise(size_t size) {
    std::string data(size, '\0');
    uint32_t x = 2463534242u;
    for (char& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return data;
}

class SigningTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(temp.Path().empty());
        ASSERT_TRUE(Exists(KX_STUB_PATH)) << "the Windows stub is built first: " << KX_STUB_PATH;
        const Output tool = Shell("osslsigncode --version");
        ASSERT_EQ(tool.exitCode, 0) << "osslsigncode is needed (tools/install-deps installs it): " << tool.text;
        const Output certificate =
            Shell("cd " + Quote(temp.Path()) +
                  " && openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2"
                  " -subj '/CN=KXInstall Test Signer' -addext extendedKeyUsage=codeSigning"
                  " && openssl pkcs12 -export -out test.pfx -inkey key.pem -in cert.pem -passout pass:test");
        ASSERT_EQ(certificate.exitCode, 0) << certificate.text;
    }

    // Builds the sample package with extra payload of the given size.
    std::string BuildInstaller(const std::string& name, size_t extraBytes, const std::string& mode = "--plain") {
        const std::string package = temp / (name + "-package");
        EXPECT_EQ(Shell("cp -R " + Quote(KX_SAMPLE_PACKAGE_DIR) + " " + Quote(package)).exitCode, 0);
        if (extraBytes > 0) WriteFile(package + "/data/extra.bin", Noise(extraBytes));
        const std::string installer = temp / (name + ".exe");
        const RunResult run = RunKxpack({"build", package, "-o", installer, "--stub", KX_STUB_PATH, mode});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return installer;
    }

    Output Sign(const std::string& in, const std::string& out, bool nest = false) {
        return Shell("osslsigncode sign " + std::string(nest ? "-nest " : "") + "-pkcs12 " + Quote(temp / "test.pfx") +
                     " -pass test -in " + Quote(in) + " -out " + Quote(out));
    }

    Output VerifySignature(const std::string& path) {
        return Shell("osslsigncode verify -CAfile " + Quote(temp / "cert.pem") + " -in " + Quote(path));
    }

    TempFolder temp;
};

TEST_F(SigningTest, SignedInstallersOfEverySizeVerifyAndReadLikeUnsignedOnes) {
    for (size_t extra : {size_t(0), size_t(70000), size_t(3 << 20)}) {
        SCOPED_TRACE("extra payload of " + std::to_string(extra) + " bytes");
        const std::string name = "setup" + std::to_string(extra);
        const std::string unsignedPath = BuildInstaller(name, extra);
        const std::string signedPath = temp / (name + "-signed.exe");
        const std::string nestedPath = temp / (name + "-nested.exe");
        ASSERT_EQ(Sign(unsignedPath, signedPath).exitCode, 0);
        ASSERT_EQ(Sign(signedPath, nestedPath, true).exitCode, 0);

        EXPECT_EQ(RunKxpack({"verify", unsignedPath}).out, unsignedPath + ": intact, unsigned\n");
        const std::string unsignedList = RunKxpack({"list", unsignedPath}).out;
        ASSERT_FALSE(unsignedList.empty());
        for (const std::string& path : {signedPath, nestedPath}) {
            const Output signature = VerifySignature(path);
            EXPECT_EQ(signature.exitCode, 0) << signature.text;
            const RunResult verified = RunKxpack({"verify", path});
            EXPECT_EQ(verified.exitCode, 0);
            EXPECT_EQ(verified.out, path + ": intact, signed\n");
            EXPECT_EQ(RunKxpack({"list", path}).out, unsignedList);
            const RunResult extracted = RunKxpack({"extract", path, path + "-out"});
            EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
            if (extra > 0) {
                EXPECT_TRUE(ReadFile(path + "-out/data/extra.bin") == Noise(extra)) << "extra.bin differs";
            }
        }
        EXPECT_NE(ReadFile(nestedPath).size(), ReadFile(signedPath).size());
    }
}

// A solid installer is signed and read the same way: the certificate table
// follows the trailer, and the stream's record still covers the stream.
TEST_F(SigningTest, SignedSolidInstallersVerifyAndReadLikeUnsignedOnes) {
    const std::string unsignedPath = BuildInstaller("solid", 70000, "--solid");
    const std::string signedPath = temp / "solid-signed.exe";
    const std::string nestedPath = temp / "solid-nested.exe";
    ASSERT_EQ(Sign(unsignedPath, signedPath).exitCode, 0);
    ASSERT_EQ(Sign(signedPath, nestedPath, true).exitCode, 0);
    EXPECT_EQ(RunKxpack({"verify", unsignedPath}).out, unsignedPath + ": intact, solid, unsigned\n");
    const std::string unsignedList = RunKxpack({"list", unsignedPath}).out;
    ASSERT_FALSE(unsignedList.empty());
    for (const std::string& path : {signedPath, nestedPath}) {
        const Output signature = VerifySignature(path);
        EXPECT_EQ(signature.exitCode, 0) << signature.text;
        const RunResult verified = RunKxpack({"verify", path});
        EXPECT_EQ(verified.exitCode, 0);
        EXPECT_EQ(verified.out, path + ": intact, solid, signed\n");
        EXPECT_EQ(RunKxpack({"list", path}).out, unsignedList);
        const RunResult extracted = RunKxpack({"extract", path, path + "-out"});
        EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
        EXPECT_TRUE(ReadFile(path + "-out/data/extra.bin") == Noise(70000)) << "extra.bin differs";
    }
    const std::string bytes = ReadFile(signedPath);
    WriteFile(temp / "cut.exe", bytes.substr(0, bytes.size() - 100));
    EXPECT_EQ(RunKxpack({"verify", temp / "cut.exe"}).exitCode, 1);
    // Signing leaves the bytes before the table where they were.
    const std::string unsignedBytes = ReadFile(unsignedPath);
    const size_t streamAt = unsignedBytes.size() - 8 - ArchiveRegion(unsignedBytes).size();
    std::string flipped = bytes;
    flipped[streamAt + 40000] ^= 0x01;
    WriteFile(temp / "flipped.exe", flipped);
    EXPECT_EQ(RunKxpack({"verify", temp / "flipped.exe"}).exitCode, 1);
}

// Stub, archive and trailer put together by hand, to a length that is no
// multiple of 8: the signing tool pads before its table, and the package is
// still found behind that padding.
TEST_F(SigningTest, AHandAssembledMisalignedInstallerIsFoundBehindTheSigningPadding) {
    const std::string archive = ArchiveRegion(ReadFile(BuildInstaller("aligned", 5000)));
    ASSERT_FALSE(archive.empty());
    std::string stub = ReadFile(KX_STUB_PATH);
    unsigned char trailer[8];
    std::string installer;
    for (size_t extra = 0; extra < 8; ++extra) {
        installer = stub + std::string(extra, '\x90') + archive;
        if ((installer.size() + 8) % 8 != 0) break;
    }
    package::WriteLe64(trailer, archive.size());
    installer.append(reinterpret_cast<const char*>(trailer), sizeof trailer);
    ASSERT_NE(installer.size() % 8, 0u);
    WriteFile(temp / "handmade.exe", installer);
    ASSERT_EQ(Sign(temp / "handmade.exe", temp / "handmade-signed.exe").exitCode, 0);
    EXPECT_EQ(VerifySignature(temp / "handmade-signed.exe").exitCode, 0);
    const RunResult verified = RunKxpack({"verify", temp / "handmade-signed.exe"});
    EXPECT_EQ(verified.out, temp / "handmade-signed.exe" + ": intact, signed\n");
    EXPECT_EQ(RunKxpack({"list", temp / "handmade-signed.exe"}).out, RunKxpack({"list", temp / "aligned.exe"}).out);
}

TEST_F(SigningTest, DamagedSignedInstallersAreToldDamaged) {
    const std::string good = temp / "big-signed.exe";
    ASSERT_EQ(Sign(BuildInstaller("big", 1 << 20), good).exitCode, 0);
    const std::string bytes = ReadFile(good);
    const size_t archiveAt = bytes.find("PK\x03\x04");
    ASSERT_NE(archiveAt, std::string::npos);
    struct Case {
        std::string what;
        std::string bytes;
    };
    std::string flipped = bytes;
    flipped[archiveAt + 600000] ^= 0x01;  // inside data/extra.bin
    const Case cases[] = {
        {"cut in half", bytes.substr(0, bytes.size() / 2)},
        {"last byte missing", bytes.substr(0, bytes.size() - 1)},
        {"cut inside the signature", bytes.substr(0, bytes.size() - 100)},
        {"flipped payload byte", flipped},
    };
    for (const Case& c : cases) {
        WriteFile(temp / "damaged.exe", c.bytes);
        const RunResult verified = RunKxpack({"verify", temp / "damaged.exe"});
        EXPECT_EQ(verified.exitCode, 1) << c.what;
        EXPECT_EQ(verified.out.rfind(temp / "damaged.exe" + ": damaged: ", 0), 0u) << c.what << ": " << verified.out;
    }
}

TEST_F(SigningTest, ASignedStubLosesItsSignatureBeforeThePackageIsAppended) {
    ASSERT_EQ(Sign(KX_STUB_PATH, temp / "signed-stub.exe").exitCode, 0);
    const std::string package = temp / "package";
    ASSERT_EQ(Shell("cp -R " + Quote(KX_SAMPLE_PACKAGE_DIR) + " " + Quote(package)).exitCode, 0);
    const RunResult run = RunKxpack({"build", package, "-o", temp / "setup.exe", "--stub", temp / "signed-stub.exe"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("signature was removed"), std::string::npos) << run.err;

    const RunResult fromPlainStub = RunKxpack({"build", package, "-o", temp / "plain.exe", "--stub", KX_STUB_PATH});
    ASSERT_EQ(fromPlainStub.exitCode, 0);
    EXPECT_EQ(run.err.find("signature"), run.err.rfind("signature"));  // one warning only
    EXPECT_EQ(RunKxpack({"verify", temp / "setup.exe"}).out, temp / "setup.exe" + ": intact, unsigned\n");
    // No table is left: signing the result gives a valid signature.
    ASSERT_EQ(Sign(temp / "setup.exe", temp / "setup-signed.exe").exitCode, 0);
    EXPECT_EQ(VerifySignature(temp / "setup-signed.exe").exitCode, 0);
    // The same installer as from the unsigned stub, but for the checksum,
    // which the signing tool had set and the packer clears.
    std::string fromSigned = ReadFile(temp / "setup.exe");
    std::string fromPlain = ReadFile(temp / "plain.exe");
    ASSERT_EQ(fromSigned.size(), fromPlain.size());
    const size_t checksumAt = package::ReadLe32(reinterpret_cast<const unsigned char*>(fromPlain.data()) + 0x3C) + 24 + 64;
    fromPlain.replace(checksumAt, 4, 4, '\0');
    EXPECT_TRUE(fromSigned == fromPlain) << "the installers differ outside the checksum";
}

}  // namespace
}  // namespace kxtest
