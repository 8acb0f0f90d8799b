#include "web/WebState.h"

#include <QDateTime>
#include <nlohmann/json.hpp>
#include <utility>

#include "core/Tables.h"
#include "core/Version.h"
#include "instrument/Description.h"
#include "instrument/JsonText.h"
#include "remote/InstrumentCommands.h"

namespace tq {
namespace {

constexpr const char* kManufacturer = "TQ2604X-EVAL";
constexpr const char* kChannelNames[] = {"DAC A", "DAC B", "DAC C", "DAC D"};

std::string NowUtc() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
}

JsonDocument OptionalNumber(const std::optional<double>& value) {
    return value ? JsonDocument(*value) : JsonDocument(nullptr);
}

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

WebState::WebState(InstrumentCommands& commands, WebFacts facts)
    : commands_(commands), facts_(std::move(facts)) {
    listener_ = commands_.Target().AddListener([this](const InstrumentChange& c) { Observe(c); });
}

WebState::~WebState() {
    commands_.Target().RemoveListener(listener_);
}

void WebState::Remember(std::string kind, std::string text) {
    outcomes_.push_back({NowUtc(), std::move(kind), std::move(text)});
    while (outcomes_.size() > kOutcomes)
        outcomes_.pop_front();
}

void WebState::Observe(const InstrumentChange& change) {
    switch (change.kind) {
        case InstrumentChange::Kind::Activity:
            if (change.value == 0 && change.activity && change.activity->OutcomeReported())
                Remember("activity", change.activity->OutcomeText());
            break;
        case InstrumentChange::Kind::BoardBack:
            Remember(change.value == 1 ? "power" : "link", change.text);
            break;
        case InstrumentChange::Kind::Register:
            // Who set an output last: ALL DACs (address 4) sets them all.
            if (!change.readBack && change.reg == kRegData && change.address >= 0 &&
                change.address <= 4) {
                for (int16_t ch = 0; ch < 4; ++ch) {
                    if (change.address == 4 || change.address == ch)
                        lastSetBy_[static_cast<std::size_t>(ch)] = change.origin;
                }
            }
            break;
        case InstrumentChange::Kind::RequestResult:
            // The first failure of a series is an outcome; the return says what was found.
            if (change.value < 0 && lastResult_ >= 0)
                Remember("link",
                         "the board does not answer: " + Instrument::ExplainResult(change.value));
            lastResult_ = change.value;
            break;
        default:
            break;
    }
}

void WebState::ReadFromBoard() {
    const auto now = Clock::now();
    if (measured_ && now - *measured_ < kTemperatureAge)
        return;
    measured_ = now;
    Instrument& in = commands_.Target();
    // A register the program has not seen is read back once, so the page shows what the board
    // holds rather than what it held at power-on; a failure leaves it not known until next time.
    try {
        for (int16_t ch = 0; ch < 4; ++ch) {
            if (!in.Mirror().At(ch).input)
                in.DataCode(ch);
            if (!in.Mirror().At(ch).coarse)
                in.RangeCode(ch);
        }
    } catch (const std::exception&) {
        // The link's state says why.
    }
    try {
        const TemperatureReading reading = in.MeasureTemperature();
        if (reading.OverRange() || reading.UnderRange()) {
            celsius_.reset();
            temperatureProblem_ = "the reading is beyond the board converter's range";
        } else {
            celsius_ = reading.celsius;
            temperatureProblem_.clear();
        }
    } catch (const std::exception& e) {
        celsius_.reset();
        temperatureProblem_ = e.what();
    }
}

std::string WebState::Starter(const void* origin) const {
    if (origin == nullptr)
        return "the program";
    return commands_.Status().IsClient(origin) ? "a remote client" : "a window";
}

std::vector<std::string> WebState::ResourceStrings() const {
    if (facts_.scpiAddress.empty())
        return {};
    const std::string host = facts_.scpiAddress == "0.0.0.0" || facts_.scpiAddress == "[::]"
                                 ? facts_.hostName
                                 : facts_.scpiAddress;
    std::vector<std::string> resources;
    if (facts_.vxi11)
        resources.push_back("TCPIP::" + host + "::INSTR");
    resources.push_back("TCPIP::" + host + "::" + std::to_string(facts_.scpiPort) + "::SOCKET");
    return resources;
}

std::string WebState::StateJson() {
    ReadFromBoard();
    Instrument& in = commands_.Target();
    JsonDocument doc = JsonDocument::object();
    doc["identity"] = IdentityJson();
    JsonDocument channels = JsonDocument::array();
    for (int16_t ch = 0; ch < 4; ++ch)
        channels.push_back(ChannelJson(ch));
    doc["channels"] = channels;

    JsonDocument pins = JsonDocument::object();
    pins["ldac"] = in.PinValue(Pin::Ldac);
    pins["clr"] = in.PinValue(Pin::Clr);
    pins["rstin"] = in.PinValue(Pin::Rstin);
    doc["pins"] = pins;
    doc["coding"] = in.PinValue(Pin::BinaryCoding) ? "binary" : "twos-complement";
    doc["pulseAfterDataWrite"] = in.PulseAfterDataWrite();

    JsonDocument temperature = JsonDocument::object();
    temperature["celsius"] = OptionalNumber(celsius_);
    temperature["problem"] =
        temperatureProblem_.empty() ? JsonDocument(nullptr) : JsonDocument(temperatureProblem_);
    doc["temperature"] = temperature;

    JsonDocument link = JsonDocument::object();
    link["answering"] = lastResult_ >= 0;
    link["problem"] = lastResult_ >= 0 ? JsonDocument(nullptr)
                                       : JsonDocument(Instrument::ExplainResult(lastResult_));
    doc["link"] = link;
    // Who keeps the other remote clients' changes out; null: nobody.
    doc["lock"] =
        commands_.Lock().Held() ? JsonDocument(commands_.Lock().Holder()) : JsonDocument(nullptr);

    doc["activities"] = ActivitiesJson();

    JsonDocument outcomes = JsonDocument::array();
    for (const Outcome& o : outcomes_)
        outcomes.push_back({{"when", o.when}, {"kind", o.kind}, {"text", o.text}});
    doc["outcomes"] = outcomes;
    doc["description"] =
        nlohmann::ordered_json::parse(DescriptionJson(in, PublishedSettings(commands_.Rows())));
    return WriteJsonText(doc, 0);
}

JsonDocument WebState::IdentityJson() const {
    const Instrument& in = commands_.Target();
    JsonDocument identity = JsonDocument::object();
    identity["manufacturer"] = kManufacturer;
    identity["model"] = std::string(in.Profile().model);
    identity["serial"] = in.Identity().serial;
    identity["board"] = in.Identity().displayName;
    identity["programVersion"] = kProgramVersion;
    identity["firmware"] = "TQ2604.hex";
    identity["resolution"] = in.Resolution();
    identity["hostName"] = facts_.hostName;
    identity["page"] = "http://" + facts_.httpAddress + ":" + std::to_string(facts_.httpPort) + "/";
    identity["scpi"] =
        facts_.scpiAddress.empty()
            ? JsonDocument(nullptr)
            : JsonDocument(facts_.scpiAddress + ":" + std::to_string(facts_.scpiPort));
    JsonDocument visa = JsonDocument::array();
    for (const std::string& resource : ResourceStrings())
        visa.push_back(resource);
    identity["visa"] = visa;
    const std::string mdns = facts_.mdnsName ? facts_.mdnsName() : "";
    identity["mdnsName"] = mdns.empty() ? JsonDocument(nullptr) : JsonDocument(mdns);
    return identity;
}

// A channel's output, code, range, limits and ramp; who drives it: the running activity that
// claims it.
JsonDocument WebState::ChannelJson(int16_t ch) const {
    Instrument& in = commands_.Target();
    const ConverterModel model = in.Mirror().Model();
    const ConverterCoding coding = in.Coding();
    const ConverterMirror::Channel& known = in.Mirror().At(ch);
    const ChannelRegisters& regs = model.channels[static_cast<std::size_t>(ch)];
    JsonDocument c = JsonDocument::object();
    c["name"] = kChannelNames[ch];
    c["volts"] = model.Output(ch);
    c["code"] = coding.CodeOfFrame(regs.input);
    c["maxCode"] = in.Profile().TopCode();
    c["known"] = known.input;
    c["rangeVolts"] =
        known.coarse ? JsonDocument(FullScaleOfCode(regs.coarse)) : JsonDocument(nullptr);
    const ChannelLimits& limits = in.Limits(ch);
    c["limitLow"] = OptionalNumber(limits.low);
    c["limitHigh"] = OptionalNumber(limits.high);
    c["rampStep"] = OptionalNumber(limits.rampStep);
    c["rampWait"] = limits.rampWaitSeconds;
    JsonDocument driver = nullptr;
    for (const Activity* a : in.Activities()) {
        for (const int16_t owned : a->Channels()) {
            if (owned == ch)
                driver = std::string(a->Name()) + ", started by " + Starter(a->Starter());
        }
    }
    c["drivenBy"] = driver;
    const auto& setBy = lastSetBy_[static_cast<std::size_t>(ch)];
    c["lastSetBy"] = setBy ? JsonDocument(Starter(*setBy)) : JsonDocument(nullptr);
    return c;
}

JsonDocument WebState::ActivitiesJson() const {
    const Instrument& in = commands_.Target();
    JsonDocument activities = JsonDocument::array();
    for (const Activity* a : in.Activities()) {
        JsonDocument entry = JsonDocument::object();
        entry["name"] = a->Name();
        JsonDocument names = JsonDocument::array();
        for (const int16_t ch : a->Channels())
            names.push_back(kChannelNames[ch]);
        entry["channels"] = names;
        entry["startedBy"] = Starter(a->Starter());
        entry["done"] = a->Done();
        entry["total"] = a->Total();
        entry["progress"] = a->Progress();
        activities.push_back(entry);
    }
    return activities;
}

std::string WebState::IdentificationXml() const {
    const Instrument& in = commands_.Target();
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\">\n";
    const auto field = [&xml](const char* name, const std::string& value) {
        xml += "  <" + std::string(name) + ">" + XmlEscaped(value) + "</" + name + ">\n";
    };
    field("Manufacturer", kManufacturer);
    field("Model", std::string(in.Profile().model));
    field("SerialNumber", in.Identity().serial);
    field("FirmwareRevision", kProgramVersion);
    field("ManufacturerDescription", in.Identity().displayName);
    field("HomepageURL",
          "http://" + facts_.httpAddress + ":" + std::to_string(facts_.httpPort) + "/");
    field("DriverURL", "");
    xml += "  <UserDescription>" + XmlEscaped(facts_.hostName) + "</UserDescription>\n";
    xml += "  <IdentificationURL>http://" + XmlEscaped(facts_.httpAddress) + ":" +
           std::to_string(facts_.httpPort) + "/lxi/identification</IdentificationURL>\n";
    xml +=
        "  <Interface xsi:type=\"NetworkInformation\" InterfaceType=\"LXI\" "
        "IPType=\"IPv4\" InterfaceName=\"eth0\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
    for (const std::string& resource : ResourceStrings())
        xml +=
            "    <InstrumentAddressString>" + XmlEscaped(resource) + "</InstrumentAddressString>\n";
    xml += "    <Hostname>" + XmlEscaped(facts_.hostName) + "</Hostname>\n";
    std::string address = facts_.httpAddress;  // IPv6 comes in brackets
    if (address.size() > 2 && address.front() == '[')
        address = address.substr(1, address.size() - 2);
    xml += "    <IPAddress>" + XmlEscaped(address) + "</IPAddress>\n";
    xml += "  </Interface>\n";
    xml += "</LXIDevice>\n";
    return xml;
}

}  // namespace tq
