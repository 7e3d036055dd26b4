// The embedded images and XML texts read back by Qt's PNG reader and XML
// parser, which share nothing with the generator or the loader.

#include "payloads/PayloadCatalogue.h"
#include "tests/payloads/PadFileFormats.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <map>
#include <set>
#include <string>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace korvane {
namespace {

const EmbeddedPayload& entry(std::string_view description) {
    for (const EmbeddedPayload& payload : payloadCatalogue())
        if (payload.description == description) return payload;
    throw std::runtime_error("no catalogue entry " + std::string(description));
}

QImage image(const std::vector<uint8_t>& bytes) {
    QImage result;
    EXPECT_TRUE(result.loadFromData(bytes.data(), int(bytes.size()), "PNG"));
    return result;
}

struct Element {
    QString name;
    QXmlStreamAttributes attributes;
    QString text;

    QString attribute(const char* key) const { return attributes.value(QLatin1String(key)).toString(); }
    int number(const char* key) const { return attribute(key).toInt(); }
};

struct ParsedForm {
    bool declaration = true;
    Element form;
    std::vector<Element> children;

    int count(const char* name) const {
        int n = 0;
        for (const Element& child : children) n += child.name == QLatin1String(name);
        return n;
    }
    const Element& first(const char* name) const {
        for (const Element& child : children)
            if (child.name == QLatin1String(name)) return child;
        throw std::runtime_error(std::string("no ") + name);
    }
};

// A form is one Form element whose children carry no elements of their own.
ParsedForm parseForm(std::string_view text) {
    QXmlStreamReader reader(QByteArray(text.data(), qsizetype(text.size())));
    ParsedForm parsed;
    reader.readNext();
    parsed.declaration = !reader.documentVersion().isEmpty();
    if (!reader.readNextStartElement()) throw std::runtime_error("no root element");
    parsed.form = {reader.name().toString(), reader.attributes(), {}};
    while (reader.readNextStartElement()) {
        Element child{reader.name().toString(), reader.attributes(), {}};
        child.text = reader.readElementText();
        parsed.children.push_back(child);
    }
    while (!reader.atEnd()) reader.readNext();
    if (reader.hasError()) throw std::runtime_error("XML error: " + reader.errorString().toStdString());
    return parsed;
}

// The frame every form shares, its keys and that each child sits on the screen.
void checkFrame(const ParsedForm& parsed, int width, int height, const std::set<std::string>& enabledKeys) {
    EXPECT_FALSE(parsed.declaration);
    EXPECT_EQ(parsed.form.name, "Form");
    EXPECT_EQ(parsed.form.attribute("template"), "TEMPLLD.HTM");
    EXPECT_EQ(parsed.form.attribute("x"), "0");
    EXPECT_EQ(parsed.form.attribute("y"), "0");
    EXPECT_EQ(parsed.form.attribute("timeout"), "0");
    EXPECT_EQ(parsed.form.number("width"), width);
    EXPECT_EQ(parsed.form.number("height"), height);
    for (const char* key : {"enter", "clear", "cancel", "f1", "f2", "f3", "f4"}) {
        const QString state = enabledKeys.count(key) ? "1" : "0";
        EXPECT_EQ(parsed.form.attribute((std::string(key) + "Key").c_str()), state) << key;
        EXPECT_EQ(parsed.form.attribute((std::string(key) + "Tone").c_str()), state) << key;
    }
    static const std::set<QString> kinds = {"Image", "Label", "LineDisplay", "BmpButton"};
    for (const Element& child : parsed.children) {
        SCOPED_TRACE(child.name.toStdString() + " " + child.attribute("id").toStdString());
        EXPECT_TRUE(kinds.count(child.name));
        EXPECT_GE(child.number("x"), 0);
        EXPECT_GE(child.number("y"), 0);
        EXPECT_LT(child.number("x"), width);
        EXPECT_LT(child.number("y"), height);
        if (child.name == "Image") {
            EXPECT_FALSE(child.attribute("src").isEmpty());
        } else {
            EXPECT_LE(child.number("x") + child.number("width"), width);
            EXPECT_LE(child.number("y") + child.number("height"), height);
        }
    }
}

const std::set<std::string> kNoKeys = {};
const std::set<std::string> kAllKeys = {"enter", "clear", "cancel", "f1", "f2", "f3", "f4"};

TEST(EmbeddedImages, ReadBackWithTheStatedSizesAndAlpha) {
    const QImage small = image(entry("rating header image, small").bytes);
    EXPECT_EQ(small.size(), QSize(481, 69));
    EXPECT_FALSE(small.hasAlphaChannel());
    const QImage wide = image(entry("rating header image, wide").bytes);
    EXPECT_EQ(wide.size(), QSize(1546, 135));
    ASSERT_TRUE(wide.hasAlphaChannel());
    EXPECT_EQ(qAlpha(wide.pixel(0, 0)), 0) << "rounded corner";
    EXPECT_EQ(qAlpha(wide.pixel(773, 67)), 255);

    for (const auto& [description, size] : std::map<std::string, QSize>{{"Lane/5000 bundle", {210, 60}},
                                                                          {"Lane/7000 bundle", {370, 102}},
                                                                          {"Move/5000 bundle", {270, 50}}}) {
        for (const auto& member : test::readTar(test::readGzip(entry(description).bytes).data)) {
            if (!member.name.ends_with(".PNG")) continue;
            const QImage button = image(member.data);
            EXPECT_EQ(button.size(), size) << description << " " << member.name;
            EXPECT_FALSE(button.isNull());
        }
    }
}

TEST(EmbeddedForms, ParseWithTheirScreenKeysAndContent) {
    const QString prompt = "<?ivPROMPTLINE1?>";
    const QString survey = "<?ivSURVEY_QUES1?>";
    const struct {
        const char* description;
        int width, height;
        const std::set<std::string>& keys;
        QString label;  // the first label's text
        int images, labels, lineDisplays, buttons;
    } forms[] = {
        {"Lane/3000 welcome form", 320, 240, kNoKeys, "Welcome", 2, 1, 0, 0},
        {"Lane/5000 welcome form", 480, 320, kNoKeys, "Welcome", 2, 1, 0, 0},
        {"Lane/7000 welcome form", 800, 480, kNoKeys, "Welcome", 2, 1, 0, 0},
        {"Lane/8000 welcome form", 800, 480, kNoKeys, "Welcome", 2, 1, 0, 0},
        {"Move/5000 welcome form", 480, 320, kNoKeys, "Welcome", 2, 1, 0, 0},
        {"Link/2500 welcome form", 320, 240, {"f1", "f2", "f3", "f4"}, "Welcome", 0, 1, 0, 4},
        {"Lane/3000 prompt form", 320, 240, kAllKeys, prompt, 2, 1, 1, 4},
        {"Lane/5000 prompt form", 480, 320, kAllKeys, prompt, 3, 1, 1, 4},
        {"Lane/7000 prompt form", 800, 480, kAllKeys, prompt, 3, 1, 1, 4},
        {"Lane/8000 prompt form", 800, 480, kAllKeys, prompt, 3, 1, 1, 4},
        {"Move/5000 prompt form", 320, 480, kAllKeys, prompt, 3, 1, 1, 4},
        {"Link/2500 prompt form", 320, 240, kAllKeys, prompt, 2, 1, 1, 4},
        {"iSC250 welcome", 480, 272, kNoKeys, "WELCOME", 2, 1, 0, 0},
        {"iSC250 card prompt", 480, 272, {"cancel"}, prompt, 4, 1, 1, 1},
        {"iSC250 rating survey", 480, 272, kAllKeys, survey, 1, 1, 0, 0},
        {"iSC480 welcome", 800, 480, kNoKeys, "WELCOME", 2, 1, 0, 0},
        {"iSC480 rating survey", 800, 480, kAllKeys, survey, 1, 1, 0, 0},
        {"small welcome", 128, 64, kNoKeys, "WELCOME", 0, 1, 0, 0},
        {"small welcome, second form", 128, 64, kNoKeys, "WELCOME", 0, 1, 0, 0},
        {"medium welcome", 320, 240, kNoKeys, "WELCOME", 0, 1, 0, 0},
    };
    for (const auto& expected : forms) {
        SCOPED_TRACE(expected.description);
        const ParsedForm parsed = parseForm(entry(expected.description).text);
        checkFrame(parsed, expected.width, expected.height, expected.keys);
        EXPECT_EQ(parsed.count("Image"), expected.images);
        EXPECT_EQ(parsed.count("Label"), expected.labels);
        EXPECT_EQ(parsed.count("LineDisplay"), expected.lineDisplays);
        EXPECT_EQ(parsed.count("BmpButton"), expected.buttons);
        EXPECT_EQ(parsed.first("Label").text, expected.label);
        if (expected.label == "Welcome" || expected.label == "WELCOME") {
            EXPECT_EQ(parsed.first("Label").attribute("align"), "center");
        }
    }

    EXPECT_EQ(parseForm(entry("iSC250 rating survey").text).first("Image").attribute("src"), "header-07.png");
    EXPECT_EQ(parseForm(entry("iSC480 rating survey").text).first("Image").attribute("src"), "1600w_top.PNG");
    // Cash back, partial payment, yes, no; blank on the Lane/3000 and the Link/2500.
    for (const char* description : {"Lane/7000 prompt form", "Lane/3000 prompt form"}) {
        std::vector<QString> captions;
        for (const Element& child : parseForm(entry(description).text).children)
            if (child.name == "BmpButton") captions.push_back(child.text);
        const bool blank = std::string_view(description).starts_with("Lane/3000");
        const std::vector<QString> expected =
            blank ? std::vector<QString>(4) : std::vector<QString>{"Cash Back", "Partial Payment", "Yes", "No"};
        EXPECT_EQ(captions, expected) << description;
    }
}

TEST(EmbeddedForms, PaymentChoiceFormsOfTheBundlesFitTheirScreenAndButtons) {
    const struct {
        const char* description;
        int width, height;
        int buttons;
    } bundles[] = {
        {"Lane/3000 bundle", 320, 240, 4}, {"Link/2500 bundle", 320, 240, 4}, {"Lane/5000 bundle", 480, 320, 6},
        {"Lane/7000 bundle", 800, 480, 6}, {"Lane/8000 bundle", 800, 480, 6}, {"Move/5000 bundle", 320, 480, 5},
    };
    for (const auto& expected : bundles) {
        SCOPED_TRACE(expected.description);
        std::map<std::string, QImage> images;
        std::string form;
        for (const auto& member : test::readTar(test::readGzip(entry(expected.description).bytes).data)) {
            if (member.name.ends_with(".PNG")) images[member.name] = image(member.data);
            else form.assign(member.data.begin(), member.data.end());
        }
        const ParsedForm parsed = parseForm(form);
        checkFrame(parsed, expected.width, expected.height, {"cancel"});
        EXPECT_EQ(parsed.count("Image"), 1) << "the background";
        EXPECT_EQ(parsed.first("Label").text, "<?ivPROMPT6?>");
        EXPECT_EQ(parsed.count("BmpButton"), expected.buttons);
        for (const Element& child : parsed.children) {
            if (child.name != "BmpButton" || images.empty()) continue;
            // The buttons are drawn with the bundle's own images, at their size.
            for (const char* state : {"up", "down"}) {
                const std::string file = child.attribute(state).toStdString();
                ASSERT_TRUE(images.count(file)) << file;
                EXPECT_EQ(QSize(child.number("width"), child.number("height")), images[file].size());
            }
        }
    }
}

TEST(ContactlessDocument, ParsesAsTheTlvTreeOfTheDefaultsAndProviders) {
    const std::string_view text = contactlessDocument().text;
    QXmlStreamReader reader(QByteArray(text.data(), qsizetype(text.size())));
    ASSERT_EQ(reader.readNext(), QXmlStreamReader::StartDocument);
    EXPECT_EQ(reader.documentVersion().toString(), "1.0");
    EXPECT_TRUE(reader.isStandaloneDocument());
    ASSERT_TRUE(reader.readNextStartElement());
    EXPECT_EQ(reader.name().toString(), "tlvtree");
    EXPECT_EQ(reader.attributes().value("version").toString(), "1.0");

    static const QRegularExpression tagPattern("^0x([0-9A-F]{2})+$");
    static const QRegularExpression valuePattern("^[0-9A-F]{2}( [0-9A-F]{2})*$");
    int nodes = 0, depth = 0, deepest = 0, group = 0;
    std::set<QString> tags;
    std::vector<QString> comments;
    std::map<int, std::vector<QString>> keyValues;  // group -> the first value of each of its entries
    bool awaitingKey = false;
    std::vector<int> childCount(8, 0);
    QString pendingText;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement: {
            ASSERT_EQ(reader.name().toString(), "node");
            ++nodes;
            ++childCount[depth];
            ++depth;
            childCount[depth] = 0;
            deepest = std::max(deepest, depth);
            const QString tag = reader.attributes().value("tag").toString();
            EXPECT_TRUE(tagPattern.match(tag).hasMatch()) << tag.toStdString();
            tags.insert(tag);
            if (depth == 1) ++group;
            if (depth == 2) awaitingKey = true;
            pendingText.clear();
            break;
        }
        case QXmlStreamReader::Characters:
            pendingText += reader.text();
            break;
        case QXmlStreamReader::Comment:
            if (depth == 0) comments.push_back(reader.text().toString().trimmed());
            break;
        case QXmlStreamReader::EndElement:
            if (reader.name() == u"node") {
                if (childCount[depth] == 0) {
                    EXPECT_TRUE(valuePattern.match(pendingText).hasMatch()) << pendingText.toStdString();
                    // The first value inside an entry of a group is the entry's key.
                    if (depth == 3 && awaitingKey) keyValues[group].push_back(pendingText);
                    awaitingKey = false;
                } else {
                    EXPECT_TRUE(pendingText.trimmed().isEmpty()) << "a node has child nodes or a value, not both";
                }
                pendingText.clear();
                --depth;
            }
            break;
        default:
            break;
        }
    }
    ASSERT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_EQ(group, 2);
    EXPECT_EQ(deepest, 4);
    EXPECT_EQ(nodes, 197);
    EXPECT_EQ(tags.size(), 52u);
    ASSERT_FALSE(comments.empty());
    EXPECT_EQ(comments.front(), "Default Parameters");
    EXPECT_EQ(keyValues[1], (std::vector<QString>{"A0 00 00 00 03 10 10", "A0 00 00 00 03 20 10", "A0 00 00 00 25 01",
                                                  "A0 00 00 03 24 10 10"}));
    EXPECT_EQ(keyValues[2], (std::vector<QString>{"A0 00 00 00 03", "A0 00 00 00 04", "A0 00 00 00 25",
                                                  "A0 00 00 00 65", "A0 00 00 01 52"}));
}

}  // namespace
}  // namespace korvane
