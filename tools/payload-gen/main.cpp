// korvane-payload-gen: builds the pad files the loader carries inside itself
// from payloads/sources and writes them as the C++ sources in
// payloads/generated. Its output depends on the sources alone, so running it
// again on unchanged sources reproduces the committed files byte for byte.
//
//   korvane-payload-gen --sources payloads/sources --output payloads/generated [--stored]
//
// --stored writes every deflate stream as stored blocks (valid, larger).

#include "tools/payload-gen/Artwork.h"
#include "tools/payload-gen/Containers.h"
#include "tools/payload-gen/PromptPackages.h"
#include "tools/payload-gen/SourceText.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace korvane::payloadgen {

namespace {

// Every member and header time: 2024-01-01 00:00:00 UTC.
constexpr uint32_t kSourceTime = 1704067200;

constexpr std::size_t kBase64LineWidth = 100;
constexpr std::size_t kTextLineWidth = 110;

struct Definition {
    std::string constant;  // the name in payloads/generated/PayloadTexts.h
    std::string comment;
    std::string text;      // Base64, or the XML itself
    bool base64 = true;
};

struct OutputFile {
    std::string name;
    std::string purpose;
    std::vector<Definition> definitions;
};

class Generator {
public:
    Generator(std::filesystem::path sources, bool storedOnly) : sources_(std::move(sources)), storedOnly_(storedOnly) {}

    std::vector<OutputFile> build() const;

private:
    Bytes readFile(const std::string& relative) const;
    // A form or document as sent: the file's text without the line break an editor leaves at its end.
    std::string readText(const std::string& relative) const;
    Definition payload(const std::string& constant, const std::string& comment, const Bytes& bytes) const;
    Definition bundle(const std::string& constant, const std::string& model, const std::string& storedName,
                      uint32_t mtime, int buttonWidth, int buttonHeight) const;
    Definition text(const std::string& constant, const std::string& relative) const;

    std::filesystem::path sources_;
    bool storedOnly_;
};

Bytes Generator::readFile(const std::string& relative) const {
    const std::filesystem::path path = sources_ / relative;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Generator::readText(const std::string& relative) const {
    const Bytes bytes = readFile(relative);
    std::string text(bytes.begin(), bytes.end());
    if (text.ends_with("\r\n")) text.resize(text.size() - 2);
    else if (text.ends_with("\n")) text.pop_back();
    return text;
}

Definition Generator::payload(const std::string& constant, const std::string& comment, const Bytes& bytes) const {
    return {constant, comment + ": " + std::to_string(bytes.size()) + " bytes", encodeBase64(bytes), true};
}

// A multiple-choice bundle: the payment-choice form and, when the model has
// them, its two button images, in a named gzip.
Definition Generator::bundle(const std::string& constant, const std::string& model, const std::string& storedName,
                             uint32_t mtime, int buttonWidth, int buttonHeight) const {
    std::vector<TarMember> members;
    if (buttonWidth > 0) {
        members.push_back({"PAY1EX-D.PNG", choiceButton(buttonWidth, buttonHeight, true, storedOnly_)});
        members.push_back({"PAY1EX-U.PNG", choiceButton(buttonWidth, buttonHeight, false, storedOnly_)});
    }
    members.push_back({"PAY1EX.K3Z", readFile("bundles/" + model + "/PAY1EX.K3Z")});
    const Bytes archive = tarArchive(members, kSourceTime);
    return payload(constant, "gzip named " + storedName, gzip(archive, {storedName, mtime}, storedOnly_));
}

Definition Generator::text(const std::string& constant, const std::string& relative) const {
    std::string body = readText(relative);
    const std::string comment = relative + ": " + std::to_string(body.size()) + " characters";
    return {constant, comment, std::move(body), false};
}

std::vector<OutputFile> Generator::build() const {
    const Bytes promptXml = readFile("prompts/CUSTPROMPT.XML");
    const Bytes promptPackage = customPromptPackage(promptXml, kSourceTime);
    const Bytes signedArchive = signedPromptArchive(promptPackage, readFile("prompts/package.info"), kSourceTime);

    std::vector<OutputFile> files;
    files.push_back({"PromptPackages.cpp",
                     "The custom prompt packages: plain for the Ingenico pads, signed for Lane, Move and Link.",
                     {payload("kCustomPromptPackage", "gzip of CUSTPROMPT.PGN", gzip(promptPackage, {}, storedOnly_)),
                      payload("kSignedPromptPackage", "gzip of the signed prompt tar",
                              gzip(signedArchive, {}, storedOnly_))}});
    files.push_back({"RatingHeaders.cpp",
                     "The customer-rating banners of the survey forms.",
                     {payload("kRatingHeaderSmall", "PNG 481 x 69 RGB", ratingHeaderSmall(storedOnly_)),
                      payload("kRatingHeaderWide", "PNG 1546 x 135 RGBA", ratingHeaderWide(storedOnly_))}});
    // Lane/7000 and Lane/8000 carry the same members; only the gzip header (name, time) tells them apart.
    files.push_back({"MultipleChoiceBundles.cpp",
                     "The multiple-choice bundles of the Lane, Move and Link pads.",
                     {bundle("kLane3000Bundle", "lane3000", "GMCL3K.tar", kSourceTime, 0, 0),
                      bundle("kLink2500Bundle", "link2500", "GMCLK25.tar", kSourceTime, 0, 0),
                      bundle("kLane5000Bundle", "lane5000", "GMCL5K.tar", kSourceTime, 210, 60),
                      bundle("kLane7000Bundle", "lane7000", "GMCL7K.tar", kSourceTime, 370, 102),
                      bundle("kLane8000Bundle", "lane7000", "GMCL8K.tar", kSourceTime + 60, 370, 102),
                      bundle("kMove5000Bundle", "move5000", "GMCM5K.tar", kSourceTime, 270, 50)}});
    files.push_back({"LaneForms.cpp",
                     "The welcome and prompt forms of the Lane, Move and Link pads.",
                     {text("kLane3000WelcomeForm", "forms/lane3000-welcome.xml"),
                      text("kLane5000WelcomeForm", "forms/lane5000-welcome.xml"),
                      text("kLane7000WelcomeForm", "forms/lane7000-welcome.xml"),
                      text("kLane8000WelcomeForm", "forms/lane8000-welcome.xml"),
                      text("kMove5000WelcomeForm", "forms/move5000-welcome.xml"),
                      text("kLink2500WelcomeForm", "forms/link2500-welcome.xml"),
                      text("kLane3000PromptForm", "forms/lane3000-prompt.xml"),
                      text("kLane5000PromptForm", "forms/lane5000-prompt.xml"),
                      text("kLane7000PromptForm", "forms/lane7000-prompt.xml"),
                      text("kLane8000PromptForm", "forms/lane8000-prompt.xml"),
                      text("kMove5000PromptForm", "forms/move5000-prompt.xml"),
                      text("kLink2500PromptForm", "forms/link2500-prompt.xml")}});
    files.push_back({"IngenicoForms.cpp",
                     "The forms of the iSC, iPP and iUC pads.",
                     {text("kIsc250WelcomeForm", "forms/isc250-welcome.xml"),
                      text("kIsc250CardPromptForm", "forms/isc250-card-prompt.xml"),
                      text("kIsc250SurveyForm", "forms/isc250-survey.xml"),
                      text("kIsc480WelcomeForm", "forms/isc480-welcome.xml"),
                      text("kIsc480SurveyForm", "forms/isc480-survey.xml"),
                      text("kIuc285WelcomeForm", "forms/iuc285-welcome.xml"),
                      text("kIpp320WelcomeForm", "forms/ipp320-welcome.xml"),
                      text("kIpp350WelcomeForm", "forms/ipp350-welcome.xml")}});
    files.push_back({"ContactlessDocument.cpp",
                     "The contactless EMV parameters.",
                     {text("kContactlessDocument", "contactless/EMVCLESS.XML")}});
    return files;
}

constexpr char kBanner[] =
    "// Generated by korvane-payload-gen from payloads/sources. Do not edit: change the sources or the\n"
    "// generator and run it again (see tools/payload-gen/main.cpp).\n";

std::string sourceFile(const OutputFile& file) {
    std::string out = std::string(kBanner) + "// " + file.purpose + "\n\n";
    out += "#include \"payloads/generated/PayloadTexts.h\"\n\nnamespace korvane::payloadtext {\n";
    for (const Definition& definition : file.definitions) {
        out += "\n// " + definition.comment + "\n";
        out += "const std::string_view " + definition.constant + " =\n";
        out += cppStringLiteral(definition.text, definition.base64 ? kBase64LineWidth : kTextLineWidth);
    }
    out += "\n}  // namespace korvane::payloadtext\n";
    return out;
}

std::string headerFile(const std::vector<OutputFile>& files) {
    std::string out = std::string(kBanner) +
                      "// The stored texts of the embedded pad files: Base64 for the bundles and images, the XML\n"
                      "// itself for the forms and the contactless document.\n\n"
                      "#pragma once\n\n#include <string_view>\n\nnamespace korvane::payloadtext {\n\n";
    for (const OutputFile& file : files)
        for (const Definition& definition : file.definitions)
            out += "extern const std::string_view " + definition.constant + ";\n";
    out += "\n}  // namespace korvane::payloadtext\n";
    return out;
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

int run(int argc, char** argv) {
    std::filesystem::path sources, output;
    bool storedOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--sources" && i + 1 < argc) sources = argv[++i];
        else if (argument == "--output" && i + 1 < argc) output = argv[++i];
        else if (argument == "--stored") storedOnly = true;
        else {
            std::fprintf(stderr, "usage: korvane-payload-gen --sources DIR --output DIR [--stored]\n");
            return 2;
        }
    }
    if (sources.empty() || output.empty()) {
        std::fprintf(stderr, "usage: korvane-payload-gen --sources DIR --output DIR [--stored]\n");
        return 2;
    }
    const std::vector<OutputFile> files = Generator(sources, storedOnly).build();
    std::filesystem::create_directories(output);
    writeFile(output / "PayloadTexts.h", headerFile(files));
    for (const OutputFile& file : files) {
        writeFile(output / file.name, sourceFile(file));
        std::printf("%s\n", (output / file.name).c_str());
    }
    return 0;
}

}  // namespace

}  // namespace korvane::payloadgen

int main(int argc, char** argv) {
    try {
        return korvane::payloadgen::run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvane-payload-gen: %s\n", error.what());
        return 1;
    }
}
