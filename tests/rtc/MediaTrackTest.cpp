#include <gtest/gtest.h>

#include "media/CameraMediaStreamContainer.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"

namespace quorvane {
namespace {

TEST(MediaTracks, AStreamsTrackGoesOnEachPeerConnectionUnderItsKind) {
    auto factory = rtc::PeerConnectionFactory::shared();
    factory->setLoopbackOnly(true);
    auto configuration = std::make_shared<VideoStreamConfiguration<CameraFormat>>(CameraFormat(), nullptr);
    auto container =
        std::make_shared<CameraMediaStreamContainer>(configuration, factory, CameraVideoCaptureFactory(), false);
    auto first = factory->createPeerConnection({}, {});
    auto second = factory->createPeerConnection({}, {});
    ASSERT_TRUE(first && second);

    EXPECT_FALSE(container->addTrack(*first));  // no track before initialize()
    container->initialize();
    EXPECT_TRUE(container->addTrack(*first));
    EXPECT_FALSE(container->addTrack(*first));  // on it already
    EXPECT_TRUE(container->addTrack(*second));
    const auto offer = first->createOffer(std::nullopt, std::nullopt).wait();
    EXPECT_NE(offer.find("a=msid:CAMERA CAMERA_TRACK"), std::string::npos) << offer;

    second->close();
    auto third = factory->createPeerConnection({}, {});
    third->close();
    EXPECT_FALSE(container->addTrack(*third));
}

}  // namespace
}  // namespace quorvane
