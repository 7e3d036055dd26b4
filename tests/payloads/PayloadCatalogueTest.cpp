#include "payloads/Base64.h"
#include "payloads/PayloadCatalogue.h"
#include "tests/payloads/PadFileFormats.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace korvane {
namespace {

using test::Bytes;
using M = FormsModel;
using K = PayloadKind;

const std::vector<M> kIngenicoPromptModels = {M::iSC250, M::iWL, M::iPP320, M::iPP350, M::iSC480, M::iSMP4, M::iCMP};
const std::vector<M> kGenericRbaModels = {M::lane3000, M::lane5000, M::lane7000, M::lane8000, M::move5000, M::link2500};
const std::vector<M> kEveryModel = {M::iSC250,   M::iSC480,   M::iPP320,   M::iPP350,   M::iWL,
                                    M::iUC285,   M::iSMP4,    M::iCMP,     M::lane3000, M::lane5000,
                                    M::lane7000, M::lane8000, M::move5000, M::link2500};

struct Expected {
    const char* description;
    const char* padFileName;
    PayloadKind kind;
    std::vector<M> models;
};

const std::vector<Expected> kExpected = {
    {"custom prompt package", "CUSTPROMPT.PGZ", K::gzipBundle, kIngenicoPromptModels},
    {"signed prompt package", "CB5BTCUSTPROMPT.PGZ", K::gzipBundle, kGenericRbaModels},
    {"rating header image, small", "header-07.png", K::pngImage, {M::iSC250}},
    {"rating header image, wide", "1600w_top.PNG", K::pngImage, {M::iSC480}},
    {"Lane/3000 bundle", "MULTCHO.TGZ", K::gzipBundle, {M::lane3000}},
    {"Link/2500 bundle", "MULTCHO.TGZ", K::gzipBundle, {M::link2500}},
    {"Lane/5000 bundle", "MULTCHO.TGZ", K::gzipBundle, {M::lane5000}},
    {"Lane/7000 bundle", "MULTCHO.TGZ", K::gzipBundle, {M::lane7000}},
    {"Lane/8000 bundle", "MULTCHO.TGZ", K::gzipBundle, {M::lane8000}},
    {"Move/5000 bundle", "MULTCHO.TGZ", K::gzipBundle, {M::move5000}},
    {"Lane/3000 welcome form", "OFFLINE.K3Z", K::form, {M::lane3000}},
    {"Lane/5000 welcome form", "OFFLINE.K3Z", K::form, {M::lane5000}},
    {"Lane/7000 welcome form", "OFFLINE.K3Z", K::form, {M::lane7000}},
    {"Lane/8000 welcome form", "OFFLINE.K3Z", K::form, {M::lane8000}},
    {"Move/5000 welcome form", "OFFLINE.K3Z", K::form, {M::move5000}},
    {"Link/2500 welcome form", "OFFLINE.K3Z", K::form, {M::link2500}},
    {"Lane/3000 prompt form", "AMTVEX.K3Z", K::form, {M::lane3000}},
    {"Lane/5000 prompt form", "AMTVEX.K3Z", K::form, {M::lane5000}},
    {"Lane/7000 prompt form", "AMTVEX.K3Z", K::form, {M::lane7000}},
    {"Lane/8000 prompt form", "AMTVEX.K3Z", K::form, {M::lane8000}},
    {"Move/5000 prompt form", "AMTVEX.K3Z", K::form, {M::move5000}},
    {"Link/2500 prompt form", "AMTVEX.K3Z", K::form, {M::link2500}},
    {"iSC250 welcome", "OFFLINE.K3Z", K::form, {M::iSC250}},
    {"iSC250 card prompt", "CCOD.K3Z", K::form, {M::iSC250}},
    {"iSC250 rating survey", "SURQUES.K3Z", K::form, {M::iSC250}},
    {"iSC480 welcome", "OFFLINE.K3Z", K::form, {M::iSC480}},
    {"iSC480 rating survey", "SURQUES.K3Z", K::form, {M::iSC480}},
    {"small welcome", "OFFLINE.K3Z", K::form, {M::iUC285}},
    {"small welcome, second form", "OFFLINE.K3Z", K::form, {M::iPP320}},
    {"medium welcome", "OFFLINE.K3Z", K::form, {M::iPP350}},
    {"contactless parameters", "EMVCLESS.XML", K::contactlessDocument, kEveryModel},
};

const EmbeddedPayload& entry(std::string_view description) {
    for (const EmbeddedPayload& payload : payloadCatalogue())
        if (payload.description == description) return payload;
    throw std::runtime_error("no catalogue entry " + std::string(description));
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string sha256Hex(const Bytes& data) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(data.data(), data.size(), digest);
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

const test::TarEntry& member(const std::vector<test::TarEntry>& entries, const std::string& name) {
    for (const auto& e : entries)
        if (e.name == name) return e;
    throw std::runtime_error("no tar member " + name);
}

std::vector<std::string> names(const std::vector<test::TarEntry>& entries) {
    std::vector<std::string> list;
    for (const auto& e : entries) list.push_back(e.name);
    return list;
}

TEST(PayloadCatalogue, HoldsEveryPadFileUnderItsNameForItsModels) {
    const auto catalogue = payloadCatalogue();
    ASSERT_EQ(catalogue.size(), kExpected.size());
    for (const Expected& expected : kExpected) {
        SCOPED_TRACE(expected.description);
        const EmbeddedPayload& payload = entry(expected.description);
        EXPECT_EQ(payload.padFileName, expected.padFileName);
        EXPECT_EQ(payload.kind, expected.kind);
        for (M model : kEveryModel) {
            const bool sent = std::find(expected.models.begin(), expected.models.end(), model) != expected.models.end();
            EXPECT_EQ(payload.sentBy(model), sent) << "model " << int(model);
            if (sent) {
                EXPECT_EQ(findPayload(expected.padFileName, model), &payload);
            }
        }
    }
}

TEST(PayloadCatalogue, LookupsFindOnlyWhatAModelSends) {
    EXPECT_EQ(findPayload("MULTCHO.TGZ", M::lane8000)->description, "Lane/8000 bundle");
    EXPECT_EQ(findPayload("OFFLINE.K3Z", M::iPP320)->description, "small welcome, second form");
    EXPECT_EQ(findPayload("MULTCHO.TGZ", M::iSC250), nullptr);
    EXPECT_EQ(findPayload("OFFLINE.K3Z", M::iWL), nullptr) << "the iWL step writes no form";
    EXPECT_EQ(findPayload("CUSTPROMPT.PGZ", M::iUC285), nullptr) << "an iUC285 gets no custom prompts";
    EXPECT_EQ(findPayload("multcho.tgz", M::lane3000), nullptr) << "names compare exactly";
    EXPECT_EQ(findPayload("", M::lane3000), nullptr);

    for (M model : kGenericRbaModels) {
        const GenericRbaForms forms = genericRbaForms(model);
        ASSERT_NE(forms.welcomeForm, nullptr);
        ASSERT_NE(forms.promptForm, nullptr);
        ASSERT_NE(forms.bundle, nullptr);
        EXPECT_EQ(forms.welcomeForm->padFileName, "OFFLINE.K3Z");
        EXPECT_EQ(forms.promptForm->padFileName, "AMTVEX.K3Z");
        EXPECT_EQ(forms.bundle->padFileName, "MULTCHO.TGZ");
    }
    const GenericRbaForms none = genericRbaForms(M::iSC250);
    EXPECT_EQ(none.promptForm, nullptr);
    EXPECT_EQ(none.bundle, nullptr);

    EXPECT_EQ(customPromptPackage().padFileName, "CUSTPROMPT.PGZ");
    EXPECT_EQ(signedPromptPackage().padFileName, "CB5BTCUSTPROMPT.PGZ");
    EXPECT_EQ(contactlessDocument().padFileName, "EMVCLESS.XML");
    EXPECT_EQ(payloadCatalogue().data(), payloadCatalogue().data()) << "built once";
}

TEST(PayloadCatalogue, StoredTextsDecodeWholeToDataOfTheirKind) {
    static const uint8_t pngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    for (const EmbeddedPayload& payload : payloadCatalogue()) {
        SCOPED_TRACE(std::string(payload.description));
        const bool binary = payload.kind == K::gzipBundle || payload.kind == K::pngImage;
        EXPECT_EQ(payload.base64, binary);
        if (binary) {
            // A character outside the alphabet (a line break, an "=") would cut the file short unseen.
            EXPECT_EQ(payload.text.find_first_not_of(kBase64Alphabet), std::string_view::npos);
            EXPECT_EQ(payload.bytes, decodeBase64(payload.text));
            EXPECT_EQ(payload.bytes.size(), payload.text.size() * 3 / 4);
        } else {
            EXPECT_EQ(text(payload.bytes), payload.text) << "forms are sent as their text";
        }
        ASSERT_GE(payload.bytes.size(), 8u);
        switch (payload.kind) {
        case K::gzipBundle:
            EXPECT_EQ(payload.bytes[0], 0x1F);
            EXPECT_EQ(payload.bytes[1], 0x8B);
            break;
        case K::pngImage:
            EXPECT_TRUE(std::equal(pngSignature, pngSignature + 8, payload.bytes.begin()));
            break;
        case K::form:
            EXPECT_TRUE(payload.text.starts_with("<Form ")) << "no XML declaration before the Form element";
            EXPECT_TRUE(payload.text.ends_with("</Form>"));
            EXPECT_NE(payload.text.find(" template=\"TEMPLLD.HTM\""), std::string_view::npos);
            break;
        case K::contactlessDocument:
            EXPECT_TRUE(payload.text.starts_with("<?xml version=\"1.0\" standalone=\"yes\"?>"));
            break;
        }
    }
}

TEST(PayloadCatalogue, BundlesAreValidGzipStreamsOfTheStatedMembers) {
    const struct {
        const char* description;
        const char* storedName;
        std::vector<std::string> members;
        uint32_t buttonWidth, buttonHeight;  // of the two PNG members, when there are any
    } bundles[] = {
        {"Lane/3000 bundle", "GMCL3K.tar", {"PAY1EX.K3Z"}, 0, 0},
        {"Link/2500 bundle", "GMCLK25.tar", {"PAY1EX.K3Z"}, 0, 0},
        {"Lane/5000 bundle", "GMCL5K.tar", {"PAY1EX-D.PNG", "PAY1EX-U.PNG", "PAY1EX.K3Z"}, 210, 60},
        {"Lane/7000 bundle", "GMCL7K.tar", {"PAY1EX-D.PNG", "PAY1EX-U.PNG", "PAY1EX.K3Z"}, 370, 102},
        {"Lane/8000 bundle", "GMCL8K.tar", {"PAY1EX-D.PNG", "PAY1EX-U.PNG", "PAY1EX.K3Z"}, 370, 102},
        {"Move/5000 bundle", "GMCM5K.tar", {"PAY1EX-D.PNG", "PAY1EX-U.PNG", "PAY1EX.K3Z"}, 270, 50},
    };
    for (const auto& bundle : bundles) {
        SCOPED_TRACE(bundle.description);
        const test::GzipMember gzip = test::readGzip(entry(bundle.description).bytes);
        EXPECT_EQ(gzip.storedName, bundle.storedName);
        EXPECT_NE(gzip.mtime, 0u);
        const auto members = test::readTar(gzip.data);
        EXPECT_EQ(names(members), bundle.members);
        for (const auto& m : members) {
            EXPECT_EQ(m.type, '0');
            EXPECT_EQ(m.mode, 0644u);
            if (m.name.ends_with(".PNG")) {
                const test::PngImage image = test::readPng(m.data);
                EXPECT_EQ(image.width, bundle.buttonWidth) << m.name;
                EXPECT_EQ(image.height, bundle.buttonHeight) << m.name;
                EXPECT_EQ(image.bitDepth, 8);
            }
        }
        const std::string form = text(member(members, "PAY1EX.K3Z").data);
        EXPECT_TRUE(form.starts_with("<Form "));
        EXPECT_NE(form.find("&lt;?ivPROMPT6?&gt;"), std::string::npos);
        if (bundle.buttonWidth > 0) {
            EXPECT_NE(form.find("up=\"PAY1EX-U.PNG\" down=\"PAY1EX-D.PNG\""), std::string::npos);
            EXPECT_NE(member(members, "PAY1EX-D.PNG").data, member(members, "PAY1EX-U.PNG").data);
        }
    }
}

TEST(PayloadCatalogue, Lane7000And8000BundlesDifferOnlyInTheirGzipHeader) {
    const Bytes& lane7000 = entry("Lane/7000 bundle").bytes;
    const Bytes& lane8000 = entry("Lane/8000 bundle").bytes;
    const test::GzipMember a = test::readGzip(lane7000);
    const test::GzipMember b = test::readGzip(lane8000);
    ASSERT_EQ(a.headerSize, b.headerSize);
    ASSERT_EQ(lane7000.size(), lane8000.size());
    EXPECT_FALSE(std::equal(lane7000.begin(), lane7000.begin() + long(a.headerSize), lane8000.begin()));
    EXPECT_TRUE(
        std::equal(lane7000.begin() + long(a.headerSize), lane7000.end(), lane8000.begin() + long(b.headerSize)))
        << "compressed members and trailer must be the same bytes";
    EXPECT_NE(a.storedName, b.storedName);
    EXPECT_NE(a.mtime, b.mtime);
    EXPECT_EQ(a.data, b.data);
}

TEST(PayloadCatalogue, RatingHeadersArePngImagesOfTheStatedSizeAndColourType) {
    const struct {
        const char* description;
        uint32_t width, height;
        uint8_t colourType;
    } images[] = {
        {"rating header image, small", 481, 69, 2},
        {"rating header image, wide", 1546, 135, 6},
    };
    for (const auto& expected : images) {
        SCOPED_TRACE(expected.description);
        const test::PngImage image = test::readPng(entry(expected.description).bytes);
        EXPECT_EQ(image.width, expected.width);
        EXPECT_EQ(image.height, expected.height);
        EXPECT_EQ(image.bitDepth, 8);
        EXPECT_EQ(image.colourType, expected.colourType);
        EXPECT_EQ(image.interlace, 0);
        EXPECT_EQ(image.chunkTypes, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    }
}

// The 224-byte header and the tar after it; checks the header's fields against the tar.
Bytes checkedPromptPackageTar(const Bytes& package) {
    const std::size_t headerSize = std::min<std::size_t>(224, package.size());
    const std::string header = text(Bytes(package.begin(), package.begin() + long(headerSize)));
    EXPECT_EQ(header.size(), 224u);
    const Bytes body(package.begin() + long(headerSize), package.end());
    EXPECT_EQ(header.substr(0, 8), "PGN 1.00");
    EXPECT_EQ(header.substr(8, 8), "00000224");
    EXPECT_EQ(std::stoul(header.substr(16, 12)), body.size());
    EXPECT_EQ(header.substr(28, 64), "CUSTPROMPT.PGN" + std::string(50, ' '));
    EXPECT_EQ(header.substr(92, 64), sha256Hex(body));
    EXPECT_EQ(header.substr(222, 2), "\r\n");
    return body;
}

void checkPromptDefinition(const std::string& xml) {
    EXPECT_TRUE(xml.starts_with("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"));
    std::size_t languages = 0, prompts = 0;
    for (std::size_t at = 0; (at = xml.find("<LANGUAGE ", at)) != std::string::npos; ++at) ++languages;
    const std::string tipPrompt = "<PROMPT ID=\"19\" TYPE=\"AMOUNT\" MAXLEN=\"7\">Enter Tip Amount</PROMPT>";
    for (std::size_t at = 0; (at = xml.find(tipPrompt, at)) != std::string::npos; ++at) ++prompts;
    EXPECT_EQ(languages, 3u);
    EXPECT_EQ(prompts, 3u) << "prompt 19 in the same words for each language";
}

TEST(PayloadCatalogue, CustomPromptPackageIsANamelessGzipOfThePadPackage) {
    const test::GzipMember gzip = test::readGzip(customPromptPackage().bytes);
    EXPECT_EQ(gzip.storedName, "");
    EXPECT_EQ(gzip.flags & 0x08, 0);
    const auto members = test::readTar(checkedPromptPackageTar(gzip.data));
    ASSERT_EQ(names(members), std::vector<std::string>{"CUSTPROMPT.XML"});
    checkPromptDefinition(text(members[0].data));
}

TEST(PayloadCatalogue, SignedPromptPackageHasTheSignedStructure) {
    const test::GzipMember gzip = test::readGzip(signedPromptPackage().bytes);
    EXPECT_EQ(gzip.storedName, "");
    const auto outer = test::readTar(gzip.data);
    ASSERT_EQ(names(outer), (std::vector<std::string>{"8520590000_852059.d3s", "8520590000_852059.P3P.pkg"}));
    const Bytes& signature = outer[0].data;
    const Bytes& package = outer[1].data;
    EXPECT_EQ(signature.size(), 3216u);
    EXPECT_EQ(package.size(), 40960u);
    EXPECT_TRUE(text(signature).starts_with("UNSIGNED PLACEHOLDER\r\n"));
    EXPECT_NE(text(signature).find(sha256Hex(package)), std::string::npos);

    const auto parts = test::readTar(package);
    ASSERT_EQ(names(parts), (std::vector<std::string>{"files.tar", "files.hash", "info.tar", "info.hash"}));
    // Each hash list names every member of its tar with its SHA-256, and nothing else.
    for (const auto& [tarName, hashName] : {std::pair{"files.tar", "files.hash"}, std::pair{"info.tar", "info.hash"}}) {
        std::string expected;
        for (const auto& file : test::readTar(member(parts, tarName).data))
            expected += sha256Hex(file.data) + "  " + file.name + "\n";
        EXPECT_EQ(text(member(parts, hashName).data), expected) << hashName;
    }
    const auto files = test::readTar(member(parts, "files.tar").data);
    ASSERT_EQ(names(files), std::vector<std::string>{"CUSTPROMPT.PGN"});
    EXPECT_EQ(files[0].data, test::readGzip(customPromptPackage().bytes).data)
        << "the signed package installs the same prompt package";
    const auto info = test::readTar(member(parts, "info.tar").data);
    ASSERT_EQ(names(info), std::vector<std::string>{"package.info"});
    EXPECT_NE(text(info[0].data).find("name=CUSTPROMPT\n"), std::string::npos);
}

TEST(PayloadCatalogue, FormsNameTheirPadVariablesXmlEscaped) {
    const struct {
        const char* description;
        const char* variable;  // as stored
    } forms[] = {
        {"Lane/3000 prompt form", "&lt;?ivPROMPTLINE1?&gt;"}, {"Lane/5000 prompt form", "&lt;?ivPROMPTLINE1?&gt;"},
        {"Lane/7000 prompt form", "&lt;?ivPROMPTLINE1?&gt;"}, {"Lane/8000 prompt form", "&lt;?ivPROMPTLINE1?&gt;"},
        {"Move/5000 prompt form", "&lt;?ivPROMPTLINE1?&gt;"}, {"Link/2500 prompt form", "&lt;?ivPROMPTLINE1?&gt;"},
        {"iSC250 card prompt", "&lt;?ivPROMPTLINE1?&gt;"},
        // The survey forms escape only the first angle bracket.
        {"iSC250 rating survey", "&lt;?ivSURVEY_QUES1?><"}, {"iSC480 rating survey", "&lt;?ivSURVEY_QUES1?><"},
    };
    for (const auto& form : forms)
        EXPECT_NE(entry(form.description).text.find(form.variable), std::string_view::npos) << form.description;
}

}  // namespace
}  // namespace korvane
