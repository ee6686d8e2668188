// The input port's delivery trace, with deliveries sent through the loopback MIDI system.
#include <gtest/gtest.h>

#include <mutex>

#include "midi/my_midi_port.h"
#include "platform/framework/core/text.h"
#include "platform/midi/component.h"
#include "platform/midi/loopback/loopback.h"
#include "platform/midi/mbs.h"
#include "platform/midi/testing.h"

namespace {

using Packets = std::vector<std::vector<uint8_t>>;
using Lines = std::vector<std::string>;

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        mbs::testing::ForceMidiBackend("loopback");
        mbs::LoadMidiComponent();
        mbs::testing::SetDebugMessageHook([this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        });
        // The trace is written whether or not anybody prints it.
        mbs::DebugMessageEnableMBS(false);
        client = fw::New<mbs::MidiClientMBS>();
        client->Init(mbs::NewCFStringMBS("Velunor"));
        port = fw::New<quillet::MyMidiPort>();
        client->CreateInputPort(mbs::NewCFStringMBS("VelunorPort"), port);
        ASSERT_NE(port->Handle(), 0);
        keys = Connect("Keys");
    }

    void TearDown() override {
        client = nullptr;
        port = nullptr;
        mbs::testing::SetDebugMessageHook(nullptr);
        mbs::loopback::RemoveAllSources();
        mbs::DebugMessageEnableMBS(true);
    }

    uint64_t Connect(const std::string& name) {
        uint64_t id = mbs::loopback::AddSource(name);
        int32_t n = client->NumberOfSources();
        for (int32_t i = 0; i < n; ++i) {
            auto s = client->GetSource(i);
            if (s->Handle() == static_cast<int32_t>(id)) port->ConnectSource(s);
        }
        return id;
    }

    // The lines written for one delivery.
    Lines Deliver(uint64_t source, const Packets& packets) {
        {
            std::lock_guard lock(mutex);
            lines.clear();
        }
        mbs::loopback::Send(source, packets);
        mbs::loopback::Flush();
        std::lock_guard lock(mutex);
        return lines;
    }

    static std::string HandleLine(uint64_t id) {
        return "endpoint.Handle: " + fw::Hex(static_cast<int32_t>(id));
    }

    std::mutex mutex;
    Lines lines;
    fw::Ref<mbs::MidiClientMBS> client;
    fw::Ref<quillet::MyMidiPort> port;
    uint64_t keys = 0;
};

}  // namespace

TEST_F(TraceTest, EmptyListAndTheSeventhDelivery) {
    EXPECT_EQ(Deliver(keys, {}), (Lines{HandleLine(keys), "1 0 packets.", "1 finished. "}));
    for (int i = 2; i <= 6; ++i) Deliver(keys, {{0x90, 60, 100}});
    EXPECT_EQ(
        Deliver(keys, {{0x90, 64, 90}, {0xFE}}),
        (Lines{HandleLine(keys), "7 2 packets.", "7 0", "7 insertrow", "7 1", "7 finished. "}));
    EXPECT_EQ(port->count, 7);
}

TEST_F(TraceTest, PacketsAreClassifiedByTheirFirstByteAlone) {
    struct Case {
        std::vector<uint8_t> packet;
        Lines body;  // the lines after the index line
    };
    const Case cases[] = {
        {{0x90, 60, 0}, {"insertrow"}},  // velocity 0 is still a note on
        {{0x9F, 60, 1}, {"insertrow"}},  // channel 16
        {{0x80, 60, 0}, {"insertrow"}},
        {{0xB0, 64, 127}, {"insertrow"}},
        {{0xE0, 0, 64}, {"insertrow"}},
        {{0xFE}, {}},                                  // active sensing: silent
        {{0xF8}, {"something else", "insertrow"}},     // timing clock
        {{0xC0, 5}, {"something else", "insertrow"}},  // program change
        {{0xA0, 60, 10}, {"something else", "insertrow"}},
        {{0xD0, 10}, {"something else", "insertrow"}},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {"something else", "insertrow"}},
        {{0x40, 0x7F}, {"something else", "insertrow"}},  // running status: a data byte
        {{0xFE, 0x90, 60, 100}, {}},                      // later messages write nothing
        {{0x90, 60, 100, 0xC0, 3, 0xF8}, {"insertrow"}},
        {{}, {}},  // no byte to classify
    };
    int delivery = 0;
    for (const auto& c : cases) {
        ++delivery;
        std::string n = fw::Str(delivery);
        Lines expected{HandleLine(keys), n + " 1 packets.", n + " 0"};
        for (const auto& line : c.body) expected.push_back(n + " " + line);
        expected.push_back(n + " finished. ");
        EXPECT_EQ(Deliver(keys, {c.packet}), expected) << "delivery " << delivery;
    }
}

TEST_F(TraceTest, AllSourcesShareOneCounter) {
    uint64_t other = Connect("Other Keys");
    EXPECT_EQ(Deliver(keys, {{0x90, 60, 1}}).at(1), "1 1 packets.");
    Lines second = Deliver(other, {{0x90, 61, 1}});
    EXPECT_EQ(second.at(0), HandleLine(other));
    EXPECT_EQ(second.at(1), "2 1 packets.");
    EXPECT_EQ(Deliver(keys, {{0x80, 60, 0}}).at(1), "3 1 packets.");
    EXPECT_EQ(port->count, 3);
}

TEST_F(TraceTest, ASourceThatVanishedBeforeGetSourceConnectsNothing) {
    uint64_t gone = mbs::loopback::AddSource("Unplugged Keys");
    ASSERT_EQ(client->NumberOfSources(), 2);
    mbs::loopback::RemoveSource(gone);
    mbs::loopback::RemoveSource(keys);
    fw::Ref<mbs::MidiEndpointMBS> source = client->GetSource(1);
    EXPECT_EQ(source->Handle(), 0);
    EXPECT_TRUE(source->StringProperty(mbs::kMIDIPropertyName()).IsNil());
    port->ConnectSource(source);
    EXPECT_EQ(client->NumberOfSources(), 0);
    // The port still works for a keyboard that comes later.
    uint64_t next = Connect("Next Keys");
    EXPECT_EQ(Deliver(next, {{0x90, 60, 1}}).at(1), "1 1 packets.");
}
