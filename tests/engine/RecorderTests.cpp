// The recorder's settings, the order of its events over an activation, buffer
// ownership, the buffer ring and pausing, on the simulated sound input.

#include "RecorderFixture.h"

#include <cstdlib>
#include <cstring>

namespace enginetest {
namespace {

std::vector<std::string> ActivationToDeactivation() {
    return {"Activate",
            "Level:" + std::to_string(LevelOfBuffer(0)),
            "RawData:19200",
            "Data:19200",
            "Level:" + std::to_string(LevelOfBuffer(1)),
            "RawData:19200",
            "Data:19200",
            "Level:" + std::to_string(LevelOfBuffer(2)),
            "RawData:9600",
            "Data:9600",
            "Level:0",
            "Deactivate"};
}

TEST_F(RecorderTest, ANewRecorderHasTheDefaults) {
    Recorder = new TLiveAudioRecorder(nullptr);
    EXPECT_FALSE(Recorder->Active());
    EXPECT_FALSE(Recorder->Async());
    EXPECT_FALSE(Recorder->Paused());
    EXPECT_EQ(Recorder->BufferLength(), 1000);
    EXPECT_EQ(Recorder->BufferCount(), 2);
    EXPECT_EQ(Recorder->DeviceID(), 0xFFFFFFFFu);
    EXPECT_EQ(Recorder->PCMFormat(), Mono16bit8000Hz);
    EXPECT_EQ(Recorder->LastError(), 0u);
}

TEST_F(RecorderTest, SettingsFollowTheirRules) {
    NewRecorder();
    for (auto [Written, Stored] : {std::pair<WORD, WORD>{5, 10}, {0, 10}, {10, 10}, {200, 200}}) {
        Recorder->SetBufferLength(Written);
        EXPECT_EQ(Recorder->BufferLength(), Stored);
    }
    for (WORD Count : {0, 1, 500}) {
        Recorder->SetBufferCount(Count);
        EXPECT_EQ(Recorder->BufferCount(), Count);
    }
    Recorder->SetBufferCount(2);

    Service.HoldAfter(0);
    Recorder->SetActive(true);
    Recorder->SetAsync(true);
    EXPECT_FALSE(Recorder->Async());
    Recorder->SetPCMFormat(Mono16bit48000Hz);
    try {
        Recorder->SetPCMFormat(Mono8bit22050Hz);
        ADD_FAILURE() << "a format change while open was accepted";
    } catch (const EWaveAudioInvalidOperation &E) {
        EXPECT_STREQ(E.what(), "Audio format cannot be changed while device is open");
    }
    EXPECT_EQ(Recorder->PCMFormat(), Mono16bit48000Hz);

    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    Recorder->SetAsync(true);
    EXPECT_TRUE(Recorder->Async());
    Recorder->SetPCMFormat(Mono8bit22050Hz);
    EXPECT_EQ(Recorder->PCMFormat(), Mono8bit22050Hz);
}

TEST_F(RecorderTest, ActivationQueuesAndStartsOnlyInTheOpenedNotification) {
    NewRecorder();
    Service.HoldAfter(0);
    Recorder->SetActive(true);
    EXPECT_TRUE(Recorder->Active());
    EXPECT_EQ(Service.QueuedBuffers(), 0);
    EXPECT_TRUE(Events().empty());

    ASSERT_TRUE(WaitFor([this] { return Count("Activate") == 1; }));
    EXPECT_EQ(Service.QueuedBuffers(), 2);
    EXPECT_EQ(Service.Calls(TOperation::Start), 1);

    Recorder->SetActive(true); // already active: nothing
    EXPECT_EQ(Service.Calls(TOperation::Open), 1);
    Recorder->SetActive(false);
    EXPECT_TRUE(Recorder->Active());
    ASSERT_TRUE(WaitUntilInactive());
    Recorder->SetActive(false); // already inactive: nothing
    EXPECT_EQ(Service.Calls(TOperation::Reset), 1);
}

TEST_F(RecorderTest, ADeviceClosedBeforeItsOpenedNotificationNeverStarts) {
    NewRecorder();
    Recorder->SetActive(true);
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    EXPECT_EQ(Events(), (std::vector<std::string>{"Activate", "Level:0", "Deactivate"}));
    EXPECT_EQ(Service.Calls(TOperation::Start), 0);
    EXPECT_EQ(Service.OpenDevices(), 0);
    EXPECT_TRUE(CentralErrors().empty());
}

class ActivationTest : public RecorderModeTest {
protected:
    // Two full buffers, then half of the third before the device holds.
    void RecordTwoAndAHalfBuffers() {
        NewRecorder(Async());
        Service.HoldAfter(2 * BufferBytes + BufferBytes / 2);
        Recorder->SetActive(true);
        ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 2; }));
    }
};

TEST_P(ActivationTest, OneActivationFiresItsEventsInOrder) {
    RecordTwoAndAHalfBuffers();
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitFor([this] { return Count("Deactivate") == 1; }));
    EXPECT_FALSE(Recorder->Active());
    EXPECT_EQ(Events(), ActivationToDeactivation());

    // Each level is that of the very buffer handed over next.
    std::vector<TDataCall> Calls = DataCalls();
    ASSERT_EQ(Calls.size(), 3u);
    for (std::size_t K = 0; K < Calls.size(); ++K)
        EXPECT_EQ(Calls[K].PeakLevel, LevelOfBuffer(K));
    EXPECT_EQ(Service.OpenDevices(), 0);
    EXPECT_EQ(Service.QueuedBuffers(), 0);
    EXPECT_TRUE(CentralErrors().empty());
}

TEST_P(ActivationTest, DestructionStillHandsOverTheReturnedBuffersButNothingElse) {
    RecordTwoAndAHalfBuffers();
    ClearLog();
    FreeRecorder();
    EXPECT_EQ(Events(), std::vector<std::string>{"Data:9600"});
    EXPECT_EQ(Service.OpenDevices(), 0);
    EXPECT_EQ(Service.QueuedBuffers(), 0);
}

TEST_P(ActivationTest, ARecorderCanBeActivatedAgain) {
    RecordTwoAndAHalfBuffers();
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    ClearLog();
    Service.HoldAfter(BufferBytes);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 1; }));
    EXPECT_EQ(Count("Activate"), 1u);
}

TEST_P(ActivationTest, ADeactivateHandlerCanActivateTheRecorderAgain) {
    RecordTwoAndAHalfBuffers();
    Recorder->Lock(); // the rule for assigning a handler while active
    Recorder->OnDeactivate = [this](TObject *) {
        Service.HoldAfter(BufferBytes);
        Recorder->SetActive(true);
    };
    Recorder->Unlock();
    ClearLog();
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 1; }));
    EXPECT_TRUE(Recorder->Active());
    EXPECT_EQ(Count("Activate"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Modes, ActivationTest, testing::Bool(), ModeName);

TEST_F(RecorderTest, AHandlerThatKeepsABlockOwnsIt) {
    NewRecorder();
    const char *Kept = nullptr;
    std::vector<char> KeptCopy;
    std::vector<const void *> Blocks;
    Recorder->OnData = [&](TObject *, const void *Buffer, DWORD Size, bool &FreeIt) {
        Blocks.push_back(Buffer);
        if (Kept)
            return;
        Kept = static_cast<const char *>(Buffer);
        KeptCopy.assign(Kept, Kept + Size);
        FreeIt = false;
    };
    Service.HoldAfter(3 * BufferBytes);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([&] { return Blocks.size() == 3; }));
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());

    // The third recording went into the kept block's header, with a fresh block.
    EXPECT_NE(Blocks[2], Blocks[0]);
    EXPECT_EQ(std::memcmp(Kept, KeptCopy.data(), KeptCopy.size()), 0);
    std::free(const_cast<char *>(Kept));
}

TEST_F(RecorderTest, WithoutADataHandlerTheBuffersAreRequeuedAndRecordingGoesOn) {
    NewRecorder();
    Recorder->OnData = nullptr;
    Service.HoldAfter(3 * BufferBytes);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("RawData:19200") == 3; }));
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    EXPECT_EQ(Service.OpenDevices(), 0);
    EXPECT_TRUE(CentralErrors().empty());
}

TEST_F(RecorderTest, ALoweredBufferCountShedsBuffersAndARaisedOneWaitsForTheNextOpen) {
    NewRecorder();
    std::size_t Delivered = 0;
    Recorder->OnData = [&](TObject *, const void *, DWORD, bool &) {
        if (++Delivered == 3)
            Recorder->SetBufferCount(1);
        if (Delivered == 6)
            Service.HoldAfter(0);
    };
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([&] { return Delivered == 6; }));
    Settle();
    EXPECT_EQ(Recorder->BuffersInUse(), 1);
    EXPECT_EQ(Service.QueuedBuffers(), 1);

    Recorder->SetBufferCount(0);
    Service.ReleaseHold();
    ASSERT_TRUE(WaitFor([&] { return Recorder->BuffersInUse() == 0; }));
    EXPECT_TRUE(Recorder->Active());
    EXPECT_EQ(Service.QueuedBuffers(), 0);

    Recorder->SetBufferCount(3);
    Settle();
    EXPECT_EQ(Recorder->BuffersInUse(), 0);
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    Service.HoldAfter(0);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Activate") == 2; }));
    EXPECT_EQ(Service.QueuedBuffers(), 3);
}

TEST_F(RecorderTest, PausingWhileInactiveOpensWithoutStarting) {
    NewRecorder();
    Recorder->SetPaused(true);
    EXPECT_EQ(Events(), std::vector<std::string>{"Pause"});
    EXPECT_TRUE(Recorder->Paused());

    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Activate") == 1; }));
    Settle();
    EXPECT_EQ(Service.Calls(TOperation::Start), 0);
    EXPECT_EQ(Service.QueuedBuffers(), 2);
    EXPECT_TRUE(DataCalls().empty());

    Service.HoldAfter(BufferBytes);
    Recorder->SetPaused(false);
    EXPECT_EQ(Events().back(), "Resume");
    EXPECT_FALSE(Recorder->Paused());
    ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 1; }));
}

TEST_F(RecorderTest, PausingWhileRecordingHandsOverThePartBufferAndResumingGoesOn) {
    NewRecorder();
    Service.HoldAfter(BufferBytes + BufferBytes / 2);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 1; }));

    Recorder->SetPaused(true);
    EXPECT_TRUE(Recorder->Paused());
    ASSERT_TRUE(WaitFor([this] { return Count("Data:9600") == 1; }));
    EXPECT_EQ(Count("Pause"), 1u);

    Service.HoldAfter(BufferBytes);
    Recorder->SetPaused(false);
    EXPECT_EQ(Count("Resume"), 1u);
    ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 2; }));
}

// nonePCM: the format comes from OnFormat, or the open fails like a rejected format.
TEST_F(RecorderTest, NonePCMWithoutAFormatHandlerFailsTheOpenCleanly) {
    NewRecorder();
    Recorder->SetPCMFormat(nonePCM);
    try {
        Recorder->SetActive(true);
        ADD_FAILURE() << "the open succeeded without a format";
    } catch (const EWaveAudioSysError &E) {
        EXPECT_EQ(E.what(), Recorder->GetErrorText(WAVERR_BADFORMAT));
    }
    EXPECT_FALSE(Recorder->Active());
    EXPECT_EQ(Service.Calls(TOperation::Query), 0);
    EXPECT_EQ(Service.Calls(TOperation::Open), 0);
    EXPECT_FALSE(Recorder->IsPCMFormatSupported(nonePCM));

    Recorder->OnError = [this](TObject *) {
        Log("Error:" + std::to_string(Recorder->LastError()));
    };
    Recorder->SetActive(true);
    EXPECT_EQ(Events(), std::vector<std::string>{"Error:32"});
}

TEST_F(RecorderTest, NonePCMRecordsInTheFormatTheHandlerSupplies) {
    for (bool HandlerKeepsIt : {false, true}) {
        SCOPED_TRACE(HandlerKeepsIt);
        static WAVEFORMATEX KeptRecord{};
        NewRecorder();
        Recorder->SetPCMFormat(nonePCM);
        Recorder->OnFormat = [&](TObject *, PWaveFormatEx &Record, bool &FreeIt) {
            if (HandlerKeepsIt) {
                FreeIt = false;
                Record = &KeptRecord;
            } else {
                Record = static_cast<PWaveFormatEx>(std::malloc(sizeof(WAVEFORMATEX)));
            }
            PCMFormatToWaveFormat(*Record, Mono8bit22050Hz);
        };
        Service.HoldAfter(4410);
        Recorder->SetActive(true);
        ASSERT_TRUE(WaitFor([this] { return Count("Data:4410") == 1; }));
        FreeRecorder();
        ClearLog();
    }
}

} // namespace
} // namespace enginetest
