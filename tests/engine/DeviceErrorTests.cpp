// Where a failing device call ends up, with and without an OnError handler: the
// handler, an exception out of the call, the application's central handler, or
// nowhere; and what state the recorder is left in.

#include "RecorderFixture.h"

namespace enginetest {
namespace {

class DeviceErrorTest : public RecorderTest, public testing::WithParamInterface<bool> {
protected:
    bool WithHandler() const { return GetParam(); }

    TLiveAudioRecorder *NewDevice(bool Async = false) {
        NewRecorder(Async);
        if (WithHandler())
            Recorder->OnError = [this, Self = Recorder](TObject *) {
                Log("Error:" + std::to_string(Self->LastError()));
            };
        return Recorder;
    }

    void ActivateHeld(std::uint64_t Bytes = 0) {
        Service.HoldAfter(Bytes);
        Recorder->SetActive(true);
        ASSERT_TRUE(WaitFor([this] { return Count("Activate") == 1; }));
    }

    std::string TextOf(MMRESULT Code) { return Recorder->GetErrorText(Code); }

    // The failure reached OnError, or else the central handler as EWaveAudioSysError.
    void ExpectReportedCentrally(MMRESULT Code) {
        std::vector<TCentralError> Errors = CentralErrors();
        if (WithHandler()) {
            EXPECT_EQ(Count("Error:" + std::to_string(Code)), 1u);
            EXPECT_TRUE(Errors.empty());
            return;
        }
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_EQ(Errors[0].Sender, Recorder);
        EXPECT_EQ(Errors[0].Class, "sys");
        EXPECT_EQ(Errors[0].Message, TextOf(Code));
    }

    // The failure reached OnError, or else it was swallowed.
    void ExpectReportedOrAbsorbed(MMRESULT Code) {
        EXPECT_EQ(Count("Error:" + std::to_string(Code)), WithHandler() ? 1u : 0u);
        EXPECT_TRUE(CentralErrors().empty());
    }
};

TEST_P(DeviceErrorTest, AFailedFormatQueryLeavesTheDeviceInactive) {
    platform::TSimulatedWaveInService::TDevice Narrow;
    WAVEFORMATEX Only{};
    PCMFormatToWaveFormat(Only, Mono16bit8000Hz);
    Narrow.Formats = {Only};
    platform::TSimulatedWaveInService::TDevice Absent;
    Absent.Presence = platform::TSimulatedWaveInService::TPresence::Absent;

    for (auto [Device, Code] :
         {std::pair{Narrow, WAVERR_BADFORMAT}, {Absent, MMSYSERR_BADDEVICEID}}) {
        Service.SetDevices({Device});
        NewDevice();
        if (WithHandler()) {
            Recorder->SetActive(true);
            EXPECT_EQ(Events(), std::vector<std::string>{"Error:" + std::to_string(Code)});
        } else {
            try {
                Recorder->SetActive(true);
                ADD_FAILURE() << "no exception";
            } catch (const EWaveAudioSysError &E) {
                EXPECT_EQ(E.what(), TextOf(Code));
            }
        }
        EXPECT_FALSE(Recorder->Active());
        EXPECT_EQ(Service.Calls(TOperation::Open), 0);
        FreeRecorder();
        ClearLog();
    }
}

TEST_P(DeviceErrorTest, ABusyDeviceLeavesTheRecorderInactiveWithoutAnException) {
    platform::TSimulatedWaveInService::TDevice Busy;
    Busy.Presence = platform::TSimulatedWaveInService::TPresence::Busy;
    Service.SetDevices({Busy});
    for (bool Async : {false, true}) {
        NewDevice(Async);
        Recorder->SetActive(true);
        EXPECT_FALSE(Recorder->Active());
        ExpectReportedOrAbsorbed(MMSYSERR_ALLOCATED);
        Settle();
        EXPECT_EQ(Events().size(), WithHandler() ? 1u : 0u);
        FreeRecorder();
        ClearLog();
    }
}

TEST_P(DeviceErrorTest, AFailedStartLeavesTheDeviceOpenButNotRecording) {
    NewDevice();
    Service.InjectFailure(TOperation::Start, MMSYSERR_ERROR);
    ActivateHeld(BufferBytes);
    Settle();
    ExpectReportedCentrally(MMSYSERR_ERROR);
    EXPECT_TRUE(Recorder->Active());
    EXPECT_EQ(Recorder->Paused(), WithHandler());
    EXPECT_EQ(Service.QueuedBuffers(), 2);
    EXPECT_TRUE(DataCalls().empty());
}

TEST_P(DeviceErrorTest, AFailedPauseOrResumeChangesNothing) {
    NewDevice();
    ActivateHeld();
    for (bool Pausing : {true, false}) {
        Service.InjectFailure(Pausing ? TOperation::Stop : TOperation::Start, MMSYSERR_ERROR);
        if (WithHandler())
            Recorder->SetPaused(Pausing);
        else
            EXPECT_THROW(Recorder->SetPaused(Pausing), EWaveAudioSysError);
        EXPECT_EQ(Recorder->Paused(), !Pausing);
        EXPECT_EQ(Count(Pausing ? "Pause" : "Resume"), 0u);
        Recorder->SetPaused(Pausing);
        EXPECT_EQ(Recorder->Paused(), Pausing);
    }
    EXPECT_EQ(Count("Error:1"), WithHandler() ? 2u : 0u);
}

TEST_P(DeviceErrorTest, AFailedResetKeepsTheDeviceRecordingUntilTheNextClose) {
    NewDevice();
    ActivateHeld();
    Service.InjectFailure(TOperation::Reset, MMSYSERR_ERROR);
    Recorder->SetActive(false);
    ExpectReportedOrAbsorbed(MMSYSERR_ERROR);
    Settle();
    EXPECT_TRUE(Recorder->Active());
    EXPECT_EQ(Service.QueuedBuffers(), 2);
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    EXPECT_EQ(Count("Deactivate"), 1u);
}

TEST_P(DeviceErrorTest, AFailedImmediateCloseIsRetriedByTheNextDeactivation) {
    NewDevice();
    Recorder->SetBufferCount(0); // nothing held: the close is immediate
    ActivateHeld();
    Service.InjectFailure(TOperation::Close, MMSYSERR_ERROR);
    Recorder->SetActive(false);
    ExpectReportedOrAbsorbed(MMSYSERR_ERROR);
    Settle();
    EXPECT_TRUE(Recorder->Active());
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    EXPECT_EQ(Count("Deactivate"), 1u);
    EXPECT_EQ(Service.OpenDevices(), 0);
}

TEST_P(DeviceErrorTest, AFailedQueueingInTheOpenedNotificationCostsOneBuffer) {
    for (TOperation Failing : {TOperation::PrepareHeader, TOperation::AddBuffer}) {
        NewDevice();
        Service.InjectFailure(Failing, MMSYSERR_NOMEM, false, 1); // the second buffer's
        ActivateHeld();
        ExpectReportedOrAbsorbed(MMSYSERR_NOMEM);
        EXPECT_EQ(Recorder->BuffersInUse(), 1);
        EXPECT_EQ(Service.QueuedBuffers(), 1);
        FreeRecorder();
        ClearLog();
    }
}

TEST_P(DeviceErrorTest, AFailedRequeueCostsOneBuffer) {
    for (TOperation Failing : {TOperation::PrepareHeader, TOperation::AddBuffer}) {
        NewDevice();
        Recorder->OnActivate = [&](TObject *) { Service.InjectFailure(Failing, MMSYSERR_NOMEM); };
        Service.HoldAfter(BufferBytes);
        Recorder->SetActive(true);
        ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 1; }));
        Settle();
        ExpectReportedCentrally(MMSYSERR_NOMEM);
        EXPECT_EQ(Recorder->BuffersInUse(), 1);
        EXPECT_EQ(Service.QueuedBuffers(), 1);
        FreeRecorder();
        ClearLog();
    }
}

TEST_P(DeviceErrorTest, ALostInputIsReportedOnceInOurOwnWordsAndAReopenRecordsAgain) {
    NewDevice();
    Recorder->OnActivate = [&](TObject *) {
        Service.InjectFailure(TOperation::AddBuffer, MMSYSERR_NODRIVER, true);
    };
    Service.HoldAfter(2 * BufferBytes);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 2; }));
    Settle();
    EXPECT_TRUE(Recorder->Lost());
    EXPECT_TRUE(Recorder->Active());
    EXPECT_EQ(Recorder->BuffersInUse(), 0);
    if (WithHandler())
        EXPECT_EQ(Count("Error:" + std::to_string(MMSYSERR_NODRIVER)), 1u);
    else
        EXPECT_EQ(CentralErrors().size(), 1u);
    for (const TCentralError &Error : CentralErrors())
        EXPECT_EQ(Error.Message, "The sound input was lost.");

    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    Service.ClearFailures();
    Service.HoldAfter(BufferBytes);
    Recorder->OnActivate = nullptr;
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 3; }));
    EXPECT_FALSE(Recorder->Lost());
}

TEST_P(DeviceErrorTest, AFailedUnprepareDropsThatBuffersEvents) {
    NewDevice();
    Recorder->OnActivate = [&](TObject *) {
        Service.InjectFailure(TOperation::UnprepareHeader, MMSYSERR_ERROR);
    };
    Service.HoldAfter(BufferBytes);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Service.Calls(TOperation::UnprepareHeader) >= 1; }));
    Settle();
    ExpectReportedCentrally(MMSYSERR_ERROR);
    EXPECT_TRUE(DataCalls().empty());
    // With a handler the header goes back to the device; without, it is released.
    EXPECT_EQ(Recorder->BuffersInUse(), WithHandler() ? 2 : 1);
    EXPECT_EQ(Service.QueuedBuffers(), WithHandler() ? 2 : 1);
}

TEST_P(DeviceErrorTest, ADeviceThatRefusesToCloseIsGivenUpByTheDestruction) {
    for (bool Async : {false, true}) {
        NewDevice(Async);
        ActivateHeld(BufferBytes / 2);
        Service.InjectFailure(TOperation::Close, MMSYSERR_ERROR, true);
        Recorder->SetActive(false);
        ASSERT_TRUE(WaitFor([this] { return Count("Error:1") + CentralErrors().size() == 1; }));
        Settle();
        ExpectReportedCentrally(MMSYSERR_ERROR);
        EXPECT_TRUE(Recorder->Active());
        EXPECT_EQ(Count("Data:9600"), 1u);
        FreeRecorder();
        EXPECT_EQ(Count("Deactivate"), 0u);
        Service.ClearFailures();
        ClearLog();
    }
}

TEST_P(DeviceErrorTest, ADeviceThatRefusedToCloseClosesWhenAskedAgain) {
    NewDevice();
    ActivateHeld(BufferBytes / 2);
    Service.InjectFailure(TOperation::Close, MMSYSERR_ERROR);
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitFor([this] { return Service.Calls(TOperation::Close) == 1; }));
    Settle();
    EXPECT_TRUE(Recorder->Active());
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    EXPECT_EQ(Count("Deactivate"), 1u);
}

INSTANTIATE_TEST_SUITE_P(OnError, DeviceErrorTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &Info) {
                             return Info.param ? "Assigned" : "Unassigned";
                         });

// Exceptions out of the application's own handlers.
TEST_F(RecorderTest, AnExceptionFromADataHandlerCostsTheBufferAndGoesToTheCentralHandler) {
    NewRecorder();
    Recorder->OnData = [](TObject *, const void *, DWORD, bool &) {
        throw std::runtime_error("decoder failed");
    };
    Service.HoldAfter(BufferBytes);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return CentralErrors().size() == 1; }));
    EXPECT_EQ(CentralErrors()[0].Sender, Recorder);
    EXPECT_EQ(CentralErrors()[0].Message, "decoder failed");
    EXPECT_EQ(Recorder->BuffersInUse(), 1);
    EXPECT_EQ(Service.QueuedBuffers(), 1);
}

TEST_F(RecorderTest, AnExceptionFromTheActivateHandlerSkipsTheStart) {
    NewRecorder();
    Recorder->OnActivate = [](TObject *) { throw std::runtime_error("not now"); };
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return CentralErrors().size() == 1; }));
    EXPECT_EQ(Service.Calls(TOperation::Start), 0);
    EXPECT_EQ(Service.QueuedBuffers(), 2);
    EXPECT_FALSE(Recorder->Paused());
}

TEST_F(RecorderTest, AnExceptionFromTheClosingLevelStillLeavesTheDeviceClosed) {
    NewRecorder();
    Recorder->OnLevel = [](TObject *, std::int32_t Level) {
        if (Level == 0)
            throw std::runtime_error("meter gone");
    };
    Service.HoldAfter(0);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Activate") == 1; }));
    Recorder->SetActive(false);
    ASSERT_TRUE(WaitUntilInactive());
    ASSERT_TRUE(WaitFor([this] { return CentralErrors().size() == 1; }));
    EXPECT_EQ(CentralErrors()[0].Message, "meter gone");
    EXPECT_EQ(Recorder->BuffersInUse(), 0);
    EXPECT_EQ(Service.OpenDevices(), 0);

    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Activate") == 2; }));
}

} // namespace
} // namespace enginetest
