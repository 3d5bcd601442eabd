#include "app/FrameCommands.h"
#include "app/ThinSplitter.h"
#include "platform/PhotoFiles.h"

#include <QTest>

namespace {

FrameSnapshot Shown(QSize photo, QSize display, int zoom, bool fit)
{
    FrameSnapshot s;
    s.imagePath = QStringLiteral("/photos/2026/IMG_0001.JPG");
    s.photoSize = photo;
    s.displaySize = display;
    s.currentZoom = zoom;
    s.fitMode = fit;
    return s;
}

bool Enabled(const CommandStates &st, FrameCommand id)
{
    return StateOf(st, id).enabled;
}

bool Marked(const CommandStates &st, FrameCommand id)
{
    return StateOf(st, id).checked;
}

std::vector<int> Sizes(std::vector<SplitterTrack> tracks, int inside)
{
    LayoutSplitterTracks(tracks, inside, 5);
    std::vector<int> out;
    for (const SplitterTrack &t : tracks)
        out.push_back(t.current);
    return out;
}

} // namespace

class TestFrameCommands : public QObject
{
    Q_OBJECT

private slots:
    void nothingShown()
    {
        const FrameSnapshot s;
        const StatusTexts t = ComputeStatusTexts(s);
        QCOMPARE(QStringList({t.page, t.folder, t.image, t.originalSize, t.zoom, t.currentSize}),
                 QStringList({"Page: ", "Folder: ", "Image:", "Original size:", "Zoom:", "Current size:"}));
        const CommandStates st = ComputeCommandStates(s);
        using C = FrameCommand;
        for (C id : {C::SaveAs, C::UploadPhoto, C::BuyPhoto, C::RotateLeft, C::RotateRight, C::ZoomIn, C::ZoomOut,
                     C::Zoom25, C::Zoom50, C::Zoom100, C::Zoom200, C::ShrinkToFit, C::SlideShow, C::UploadFolder,
                     C::BuyFolder, C::NextPage, C::PrevPage, C::FirstPage, C::LastPage}) {
            QVERIFY2(!Enabled(st, id), CommandInfo(id).prompt);
            QVERIFY(!Marked(st, id));
        }
        for (C id : {C::Exit, C::Toolbar, C::StatusBar, C::AdvancedSettings, C::LiveUpdate, C::About, C::WebSite})
            QVERIFY(Enabled(st, id));
        QVERIFY(Marked(st, C::Toolbar));
    }

    void zoomLevels()
    {
        using C = FrameCommand;
        // A 5000 x 3000 photo fitted at 16 %.
        CommandStates st = ComputeCommandStates(Shown({5000, 3000}, {800, 480}, 16, true));
        QVERIFY(Enabled(st, C::Zoom25) && Enabled(st, C::Zoom50));
        QVERIFY(!Enabled(st, C::Zoom100) && !Enabled(st, C::Zoom200));
        QVERIFY(Marked(st, C::ShrinkToFit) && !Enabled(st, C::ShrinkToFit));

        // 1600 x 1200 fitted at 37 %, then one step in.
        st = ComputeCommandStates(Shown({1600, 1200}, {592, 444}, 37, true));
        QVERIFY(Enabled(st, C::Zoom25) && !Marked(st, C::Zoom25));
        QVERIFY(Enabled(st, C::Zoom100) && !Enabled(st, C::Zoom200));
        st = ComputeCommandStates(Shown({1600, 1200}, {671, 503}, 42, false));
        QVERIFY(Enabled(st, C::ShrinkToFit) && !Marked(st, C::ShrinkToFit));

        for (int zoom : {99, 100, 101}) {
            st = ComputeCommandStates(Shown({800, 600}, {800, 600}, zoom, false));
            QVERIFY(Marked(st, C::Zoom100) && !Enabled(st, C::Zoom100));
        }
        st = ComputeCommandStates(Shown({800, 600}, {800, 600}, 102, false));
        QVERIFY(!Marked(st, C::Zoom100) && Enabled(st, C::Zoom100));

        QVERIFY(!Enabled(ComputeCommandStates(Shown({4000, 3000}, {2000, 1500}, 50, false)), C::ZoomIn));
        QVERIFY(Enabled(ComputeCommandStates(Shown({4000, 3000}, {1999, 1499}, 50, false)), C::ZoomIn));
        QVERIFY(!Enabled(ComputeCommandStates(Shown({400, 100}, {400, 100}, 100, false)), C::ZoomOut));
        QVERIFY(Enabled(ComputeCommandStates(Shown({400, 101}, {400, 101}, 100, false)), C::ZoomOut));
        // A photo of 15 x 15: only 50 % of the levels (the size rule of 25 % fails).
        st = ComputeCommandStates(Shown({15, 15}, {15, 15}, 100, true));
        QVERIFY(!Enabled(st, C::Zoom25) && Enabled(st, C::Zoom50) && Enabled(st, C::Zoom200));
    }

    void pagesAndList()
    {
        using C = FrameCommand;
        FrameSnapshot s;
        s.listFolder = QStringLiteral("/photos");
        s.listPhotoCount = 20;
        s.pageIndex = 1;
        s.pageCount = 3;
        CommandStates st = ComputeCommandStates(s);
        for (C id : {C::NextPage, C::PrevPage, C::FirstPage, C::LastPage, C::SlideShow, C::UploadFolder, C::BuyFolder})
            QVERIFY(Enabled(st, id));
        s.pageIndex = 2;
        st = ComputeCommandStates(s);
        QVERIFY(!Enabled(st, C::NextPage) && !Enabled(st, C::LastPage) && Enabled(st, C::PrevPage));
        s.thumbnailWorkerRunning = true;
        st = ComputeCommandStates(s);
        QVERIFY(!Enabled(st, C::PrevPage) && !Enabled(st, C::FirstPage));
        QCOMPARE(ComputeStatusTexts(s).page, QString("Page: 3 of 3"));

        // A folder still being read has no page count yet: no "1 of 0" meanwhile.
        FrameSnapshot reading;
        reading.listFolder = QStringLiteral("/photos/60000");
        reading.pageCountKnown = false;
        QCOMPARE(ComputeStatusTexts(reading).page, QString("Page: "));
        QCOMPARE(ComputeStatusTexts(reading).folder, QString("Folder: /photos/60000"));
    }

    void statusTexts()
    {
        FrameSnapshot s = Shown({3000, 2000}, {991, 661}, 33, false);
        s.listFolder = QStringLiteral("/home/someone/Pictures/Holidays 2026/Mountains");
        StatusTexts t = ComputeStatusTexts(s);
        QCOMPARE(t.currentSize, QString("Current size: 991x661"));
        QCOMPARE(t.zoom, QString("Zoom: 33%"));
        QCOMPARE(t.image, QString("Image: IMG_0001.JPG"));
        QCOMPARE(t.originalSize, QString("Original size: 3000x2000"));
        QCOMPARE(t.folder, QString("Folder: /home/someone/Pi.../Mountains"));
        QCOMPARE(t.folder.size(), 37);
        s = Shown({3000, 2000}, {1501, 1001}, 50, false);
        QCOMPARE(ComputeStatusTexts(s).currentSize, QString("Current size: 1502x1002"));
        s = Shown({1000, 1000}, {249, 249}, 25, false);
        QCOMPARE(ComputeStatusTexts(s).currentSize, QString("Current size: 250x250"));
        s.imagePath = QStringLiteral("/IMG_2.JPG");
        QCOMPARE(ComputeStatusTexts(s).image, QString("Image: IMG_2.JPG"));

        QCOMPARE(CompactPath("Folder: /short", 37), QString("Folder: /short"));
        QCOMPARE(CompactPath("Folder: /a/" + QString(40, 'n'), 37), QString(34, 'n') + "...");
        QCOMPARE(StatusPaneTemplates()[1].size(), 61);
    }

    void windowTitle_data()
    {
        QTest::addColumn<QString>("imagePath");
        QTest::addColumn<QString>("title");
        QTest::newRow("nothing shown") << QString() << QString("Quillmere");
        QTest::newRow("photo") << QString("/home/ann/Photos/IMG_0042.JPG") << QString("IMG_0042.JPG - Quillmere");
        QTest::newRow("photo in the root") << QString("/IMG_2.JPG") << QString("IMG_2.JPG - Quillmere");
        // A name is data, never a template.
        QTest::newRow("name with a percent") << QString("/p/100%1 %2.jpg") << QString("100%1 %2.jpg - Quillmere");
    }
    void windowTitle()
    {
        QFETCH(QString, imagePath);
        QFETCH(QString, title);
        FrameSnapshot s;
        s.imagePath = imagePath;
        QCOMPARE(WindowTitle(s), title);
    }

    void commandTable()
    {
        QCOMPARE(CommandPrompt(FrameCommand::RotateLeft), QString("Rotate image counter-clockwize"));
        QCOMPARE(CommandTip(FrameCommand::ZoomOut), QString("Zoom out"));
        QCOMPARE(CommandTip(FrameCommand::Zoom200), QString("Scale 200%"));
        QStringList order;
        for (const ToolbarSlot &slot : ToolbarLayout())
            order << (slot.separator ? QString("|") : QString::fromUtf8(CommandInfo(slot.command).picture));
        QCOMPARE(order.join(' '), QString("document-save-as | upload-photo upload-folder buy-photo buy-folder | "
                                          "go-first go-previous go-next go-last | zoom-in zoom-out | "
                                          "zoom-25 zoom-50 zoom-100 zoom-200 | zoom-fit-best | "
                                          "object-rotate-left object-rotate-right | media-playback-start | web-site"));
    }

    void splitterLayout()
    {
        // The frame's columns: the left one ideal 320, minimum 100, in a 1000-pixel inside width.
        QCOMPARE(Sizes({{320, 100, 0}, {0, 0, 0}}, 998), (std::vector<int>{320, 673}));
        // Narrower than the left column: it shrinks and the right pane is gone.
        QCOMPARE(Sizes({{320, 100, 0}, {0, 0, 0}}, 300), (std::vector<int>{297, 0}));
        // Room for the left column and just a bar: the rest joins the left pane.
        QCOMPARE(Sizes({{320, 100, 0}, {0, 0, 0}}, 324), (std::vector<int>{321, 0}));
        QCOMPARE(Sizes({{320, 100, 0}, {0, 0, 0}}, 326), (std::vector<int>{320, 1}));
        // An ideal below the minimum hides the pane; a later pane below its minimum gives its
        // room to the one before.
        QCOMPARE(Sizes({{50, 100, 0}, {0, 0, 0}}, 500), (std::vector<int>{0, 495}));
        QCOMPARE(Sizes({{100, 0, 0}, {0, 50, 0}}, 130), (std::vector<int>{127, 0}));
        QCOMPARE(Sizes({{100, 0, 0}, {0, 0, 0}}, -20), (std::vector<int>{0, 0}));

        std::vector<SplitterTrack> rows{{180, 0, 0}, {0, 0, 0}};
        LayoutSplitterTracks(rows, 600, 5);
        QCOMPARE(SplitterTrackStarts(rows, 1, 5), (std::vector<int>{1, 186}));
    }
};

QTEST_APPLESS_MAIN(TestFrameCommands)
#include "tst_framecommands.moc"
