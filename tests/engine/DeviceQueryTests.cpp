// The device queries, caller-supplied buffers, the threads events run on, and
// recording at the format's real pace.

#include "RecorderFixture.h"

#include <cstdlib>
#include <thread>

namespace enginetest {
namespace {

using TDevice = platform::TSimulatedWaveInService::TDevice;

TEST_F(RecorderTest, QueriesAnswerForTheChosenDevice) {
    TDevice Device;
    Device.Name = "Line in";
    Device.FormatBits = WAVE_FORMAT_1M08 | WAVE_FORMAT_2M16;
    WAVEFORMATEX Only{};
    PCMFormatToWaveFormat(Only, Mono16bit48000Hz);
    Device.Formats = {Only};
    Service.SetDevices({Device, TDevice{}});
    NewRecorder();

    EXPECT_EQ(Recorder->GetNumDevs(), 2u);
    EXPECT_EQ(Recorder->GetDeviceName(), "Line in");
    TPCMFormats Expected;
    for (TPCMFormat Format : {Mono8Bit8000Hz, Stereo8bit8000Hz, Mono16bit8000Hz, Stereo16bit8000Hz,
                              Mono8bit11025Hz, Mono16bit22050Hz})
        Expected.Include(Format);
    EXPECT_EQ(Recorder->GetDeviceFormats(), Expected);
    EXPECT_EQ(Recorder->ValidateDeviceID(1), MMSYSERR_NOERROR);
    EXPECT_EQ(Recorder->ValidateDeviceID(2), MMSYSERR_BADDEVICEID);
    EXPECT_TRUE(Recorder->IsPCMFormatSupported(Mono16bit48000Hz));
    EXPECT_FALSE(Recorder->IsPCMFormatSupported(Mono8bit48000Hz));
    EXPECT_EQ(Recorder->LastError(), 0u);

    Service.SetDevices({});
    EXPECT_EQ(Recorder->GetDeviceName(), "");
    EXPECT_TRUE(Recorder->GetDeviceFormats().Empty());
    EXPECT_EQ(Recorder->GetErrorText(12345), "");
}

TEST_F(RecorderTest, ThePositionIsTheTimeRecorded) {
    NewRecorder();
    EXPECT_EQ(Recorder->GetPosition(), 0u);
    Service.HoldAfter(BufferBytes + BufferBytes / 2);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Data:19200") == 1; }));
    EXPECT_EQ(Recorder->GetPosition(), 300u);
}

TEST_F(RecorderTest, ACallersBlockIsQueuedOnceAndThenTakenOverByTheEngine) {
    NewRecorder();
    Recorder->SetPaused(true);
    Recorder->SetActive(true);
    ASSERT_TRUE(WaitFor([this] { return Count("Activate") == 1; }));
    char *Block = static_cast<char *>(std::malloc(BufferBytes));
    std::vector<const void *> Delivered;
    Recorder->OnData = [&](TObject *, const void *Buffer, DWORD, bool &) {
        Delivered.push_back(Buffer);
    };
    EXPECT_FALSE(Recorder->AddUserBuffer(nullptr, BufferBytes, true));
    ASSERT_TRUE(Recorder->AddUserBuffer(Block, BufferBytes, true));
    EXPECT_EQ(Recorder->BuffersInUse(), 3);

    Service.HoldAfter(3 * BufferBytes);
    Recorder->SetPaused(false);
    ASSERT_TRUE(WaitFor([&] { return Delivered.size() == 3; }));
    EXPECT_EQ(Delivered[2], Block);
    // Three headers for a count of two: the one that comes back next is shed.
    EXPECT_EQ(Recorder->BuffersInUse(), 2);
}

TEST_F(RecorderTest, EventsRunOnTheActivatingThreadOrOnTheDevicesOwnThread) {
    for (bool Async : {false, true}) {
        NewRecorder(Async);
        std::vector<std::thread::id> Threads;
        Recorder->OnData = [&](TObject *, const void *, DWORD, bool &) {
            Threads.push_back(std::this_thread::get_id());
        };
        Service.HoldAfter(2 * BufferBytes);
        Recorder->SetActive(true);
        // The handler runs under the recorder's lock, on its thread in thread mode.
        ASSERT_TRUE(WaitFor([&] {
            Recorder->Lock();
            const bool Both = Threads.size() == 2;
            Recorder->Unlock();
            return Recorder->BuffersInUse() == 2 && Both;
        }));
        FreeRecorder();
        for (std::thread::id Thread : Threads)
            EXPECT_EQ(Thread == std::this_thread::get_id(), !Async);
    }
}

TEST_F(RecorderTest, RealTimeDeliveryFillsWholeBuffersInOrder) {
    Service.SetDelivery(platform::TSimulatedWaveInService::TDelivery::RealTime);
    for (bool Async : {false, true}) {
        NewRecorder(Async);
        Recorder->SetBufferLength(10);
        Recorder->SetActive(true);
        ASSERT_TRUE(WaitFor([this] { return DataCalls().size() >= 5; }));
        Recorder->SetActive(false);
        ASSERT_TRUE(WaitUntilInactive());
        std::vector<TDataCall> Calls = DataCalls();
        for (std::size_t K = 0; K + 1 < Calls.size(); ++K)
            EXPECT_EQ(Calls[K].Size, 960u);
        EXPECT_LE(Calls.back().Size, 960u);
        FreeRecorder();
        ClearLog();
    }
}

} // namespace
} // namespace enginetest
