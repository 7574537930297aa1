#include "RecordingStart.h"

#include <gtest/gtest.h>

void StartRecording(platform::IWaveInService &Service, TRecordingSession &Session, UINT DeviceID) {
    ASSERT_EQ(Session.Open(DeviceID), MMSYSERR_NOERROR);
    Session.QueueAll();
    ASSERT_EQ(Service.Start(Session.Handle()), MMSYSERR_NOERROR);
    std::optional<TNotification> Data = Session.NextData();
    ASSERT_TRUE(Data) << "no buffer came back after the start";
    Session.Requeue(Data->Header);
}
