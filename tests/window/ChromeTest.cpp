#include "support/WindowFixture.h"

#include "platform/DialogTemplate.h"
#include "res/Resources.h"
#include "window/MinimizedIcon.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTimer>

class Chrome : public WindowTest {};

TEST_F(Chrome, TheWindowHoldsEveryControlOfItsTemplateInTabOrder)
{
    Open();
    EXPECT_EQ(window->windowTitle(), "publish_tavisk");
    const QList<QWidget*> children = window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QStringList captions;
    for (QWidget* child : children) {
        if (auto* button = qobject_cast<QAbstractButton*>(child))
            captions << button->text();
        else if (auto* label = qobject_cast<QLabel*>(child))
            captions << label->text();
    }
    // The template's, the record box after all of them, then the status, which is no template control.
    EXPECT_EQ(captions, QStringList({"上麦", "下麦", "详细设置", "视频设备", "win7背景捕获（xp第三方播放器）", "启动",
                                     "音频设备", "音频播放设备", "同时录制", "未上麦"}));
    for (int id : {IDC_ON_AIR, IDC_OFF_AIR, IDC_PREVIEW_FRAME, IDC_SETTINGS, IDC_VIDEO_DEVICE, IDC_PLAYER,
                   IDC_BACKGROUND_AUDIO, IDC_AUDIO_DEVICE, IDC_PLAYBACK_DEVICE, IDC_RECORD})
        EXPECT_NE(DialogItem(*window, id), nullptr) << id;
    EXPECT_TRUE(DialogItem(*window, IDC_PLAYBACK_DEVICE)->isHidden());
    EXPECT_FALSE(DialogItem(*window, IDC_PLAYBACK_DEVICE)->isEnabled());
    EXPECT_FALSE(window->windowIcon().isNull());
}

TEST_F(Chrome, CaptionsUseAFontThatHoldsChinese)
{
    Open();
    const QFontInfo font(DialogItem(*window, IDC_ON_AIR)->font());
    EXPECT_EQ(font.family(), "WenQuanYi Micro Hei");
    EXPECT_EQ(font.pointSize(), 9);
}

TEST_F(Chrome, ControlsSitWhereTheirDialogUnitsPutThem)
{
    Open();
    const QRect onAir = DialogItem(*window, IDC_ON_AIR)->geometry();
    const QRect offAir = DialogItem(*window, IDC_OFF_AIR)->geometry();
    const QRect frame = DialogItem(*window, IDC_PREVIEW_FRAME)->geometry();
    // On air at (202,21) 50x39 and off air at (202,82): same column, same width, below it.
    EXPECT_EQ(onAir.left(), offAir.left());
    EXPECT_EQ(onAir.width(), offAir.width());
    EXPECT_GT(offAir.top(), onAir.bottom());
    EXPECT_LT(frame.right(), onAir.left());
    EXPECT_TRUE(window->rect().contains(offAir));
    EXPECT_GT(window->width(), onAir.right());
}

TEST_F(Chrome, TheContextMenuOffersTheAboutBox)
{
    Open();
    ASSERT_NE(window->SystemMenu(), nullptr);
    const QList<QAction*> actions = window->SystemMenu()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), "关于 publish_tavisk(&A)...");
}

TEST_F(Chrome, CommandsSixteenToThirtyOneOpenTheAboutBox)
{
    Open();
    int opened = 0;
    auto closeAbout = [&] {
        if (auto* about = QApplication::activeModalWidget()) {
            ++opened;
            EXPECT_EQ(about->windowTitle(), "关于 publish_tavisk");
            about->close();
        }
    };
    for (unsigned id : {16u, 31u, 0x10010u}) {
        QTimer::singleShot(0, closeAbout);
        window->OnSysCommand(id, 0);
    }
    EXPECT_EQ(opened, 3);
    for (unsigned id : {15u, 32u, 0xF060u}) window->OnSysCommand(id, 0);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(MinimizedIcon, PositionTruncatesTowardZero)
{
    EXPECT_EQ(MinimizedIconPosition({36, 36}, {32, 32}), QPoint(2, 2));
    EXPECT_EQ(MinimizedIconPosition({0, 0}, {32, 32}), QPoint(-15, -15));
    EXPECT_EQ(MinimizedIconPosition({33, 100}, {32, 32}), QPoint(1, 34));
}
