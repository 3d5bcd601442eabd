#include "app/FrameCommands.h"

#include "platform/PhotoFiles.h"

#include <cstdlib>

namespace {

using C = FrameCommand;

constexpr FrameCommandInfo kTable[] = {
    {C::SaveAs, "&Save As", "&File", "Save changed file\nSave file", "document-save-as", "document-save-as"},
    {C::Exit, "E&xit", "&File", "Quit the application; prompts to save documents\nExit", nullptr, nullptr},
    {C::Toolbar, "&Toolbar", "&View", "Show or hide the toolbar\nToggle ToolBar", nullptr, nullptr},
    {C::StatusBar, "&Status Bar", "&View", "Show or hide the status bar\nToggle StatusBar", nullptr, nullptr},
    {C::SlideShow, "S&lideShow", "&View", "View slide show\nView slide show", "media-playback-start", "media-playback-start"},
    {C::UploadPhoto, "Upload this &photo", "&Upload", "Upload image to Quillmere\nUpload image", nullptr, "upload-photo"},
    {C::UploadFolder, "Upload all photos in this &folder", "&Upload",
     "Upload folder to Quillmere\nUpload all photos in this folder", nullptr, "upload-folder"},
    {C::BuyPhoto, "Buy this &photo", "&Buy Prints", "Buy this photo\nBuy this photo", nullptr, "buy-photo"},
    {C::BuyFolder, "Buy all photos in this &folder", "&Buy Prints",
     "Buy all photos in this folder\nBuy all photos in this folder", nullptr, "buy-folder"},
    {C::ZoomIn, "Zoom &In", "&Image/Zoom", "Zoom In\nZoom In", "zoom-in", "zoom-in"},
    {C::ZoomOut, "Zoom &Out", "&Image/Zoom", "Zoom Out\nZoom out", "zoom-out", "zoom-out"},
    {C::Zoom25, "25%", "&Image/Zoom", "Scale image to 25%\nScale 25%", nullptr, "zoom-25"},
    {C::Zoom50, "50%", "&Image/Zoom", "Scale image to 50%\nScale 50%", nullptr, "zoom-50"},
    {C::Zoom100, "100%", "&Image/Zoom", "Scale image to 100%\nScale 100%", nullptr, "zoom-100"},
    {C::Zoom200, "200%", "&Image/Zoom", "Scale image to 200%\nScale 200%", nullptr, "zoom-200"},
    {C::ShrinkToFit, "&Shrink To Fit", "&Image/Zoom", "Shrink image to fit\nShrink to fit", "zoom-fit-best", "zoom-fit-best"},
    {C::RotateLeft, "&Left", "&Image/Rotate", "Rotate image counter-clockwize\nRotate left", "object-rotate-left", "object-rotate-left"},
    {C::RotateRight, "&Right", "&Image/Rotate", "Rotate image clockwise\nRotate right", "object-rotate-right", "object-rotate-right"},
    {C::NextPage, "&Next Page", "&Page", "Show next page\nNext page", "go-next", "go-next"},
    {C::PrevPage, "&Prev Page", "&Page", "Show previous page\nPrevious page", "go-previous", "go-previous"},
    {C::FirstPage, "&First Page", "&Page", "Show first page\nFirst page", "go-first", "go-first"},
    {C::LastPage, "&Last page", "&Page", "Show last page\nLast page", "go-last", "go-last"},
    {C::AdvancedSettings, "&Advanced Settings", "&Settings", "Show settings panel\nSettings", nullptr, nullptr},
    {C::LiveUpdate, "Live Update", "&Help", "Checks for new version and perform live update\nLive Update", nullptr, nullptr},
    {C::About, "About Quillmere", "&Help", "Display Quillmere information\nAbout", "help-about", "help-about"},
    {C::WebSite, nullptr, nullptr, "Open Quillmere site\nQuillmere site", nullptr, "web-site"},
};
static_assert(std::size(kTable) == kFrameCommandCount);

constexpr ToolbarSlot kToolbar[] = {
    {false, C::SaveAs},
    {true, C::SaveAs},
    {false, C::UploadPhoto},
    {false, C::UploadFolder},
    {false, C::BuyPhoto},
    {false, C::BuyFolder},
    {true, C::SaveAs},
    {false, C::FirstPage},
    {false, C::PrevPage},
    {false, C::NextPage},
    {false, C::LastPage},
    {true, C::SaveAs},
    {false, C::ZoomIn},
    {false, C::ZoomOut},
    {true, C::SaveAs},
    {false, C::Zoom25},
    {false, C::Zoom50},
    {false, C::Zoom100},
    {false, C::Zoom200},
    {true, C::SaveAs},
    {false, C::ShrinkToFit},
    {true, C::SaveAs},
    {false, C::RotateLeft},
    {false, C::RotateRight},
    {true, C::SaveAs},
    {false, C::SlideShow},
    {true, C::SaveAs},
    {false, C::WebSite},
};

QString Prompt(FrameCommand id, bool tip)
{
    const QString whole = QString::fromUtf8(CommandInfo(id).prompt);
    const qsizetype nl = whole.indexOf(QLatin1Char('\n'));
    return tip ? whole.mid(nl + 1) : whole.left(nl);
}

// The part after the last "/": a photo directly in "/" is named too.
QString FileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString SizeText(QSize s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

} // namespace

std::span<const FrameCommandInfo> FrameCommandTable()
{
    return kTable;
}

const FrameCommandInfo &CommandInfo(FrameCommand id)
{
    for (const FrameCommandInfo &info : kTable)
        if (info.id == id)
            return info;
    std::abort(); // every command has a row (checked above)
}

QString CommandPrompt(FrameCommand id)
{
    return Prompt(id, false);
}

QString CommandTip(FrameCommand id)
{
    return Prompt(id, true);
}

std::span<const ToolbarSlot> ToolbarLayout()
{
    return kToolbar;
}

CommandStates ComputeCommandStates(const FrameSnapshot &s)
{
    CommandStates st{};
    auto set = [&](FrameCommand id, bool enabled, bool checked = false) { st[size_t(id)] = {enabled, checked}; };

    const bool photo = !s.imagePath.isEmpty();
    const bool listed = s.listPhotoCount > 0;
    const int W = s.photoSize.width(), H = s.photoSize.height();
    const int w = s.displaySize.width(), h = s.displaySize.height();

    set(C::SaveAs, photo);
    set(C::UploadPhoto, photo);
    set(C::BuyPhoto, photo);
    set(C::RotateLeft, photo);
    set(C::RotateRight, photo);
    set(C::SlideShow, listed);
    set(C::UploadFolder, listed);
    set(C::BuyFolder, listed);
    set(C::Toolbar, true, s.toolbarShown);
    set(C::StatusBar, true, s.statusBarShown);
    set(C::ZoomIn, photo && w < 2000 && h < 2000);
    set(C::ZoomOut, photo && w > 100 && h > 100);

    struct Level { FrameCommand id; int percent; bool allowed; };
    const Level levels[] = {
        {C::Zoom25, 25, W > 20 && H > 20},
        {C::Zoom50, 50, (W < 4000 && H < 4000) || (W > 10 && H > 10)},
        {C::Zoom100, 100, W < 2000 && H < 2000},
        {C::Zoom200, 200, W < 1000 && H < 1000},
    };
    for (const Level &l : levels) {
        if (!photo)
            set(l.id, false);
        else if (std::abs(s.currentZoom - l.percent) <= 1)
            set(l.id, false, true);
        else
            set(l.id, l.allowed);
    }
    if (!photo)
        set(C::ShrinkToFit, false);
    else
        set(C::ShrinkToFit, !s.fitMode, s.fitMode);

    const bool idle = !s.thumbnailWorkerRunning;
    set(C::NextPage, idle && s.pageIndex + 1 < s.pageCount);
    set(C::LastPage, idle && s.pageIndex + 1 < s.pageCount);
    set(C::PrevPage, idle && s.pageIndex > 0);
    set(C::FirstPage, idle && s.pageIndex > 0);
    return st;
}

StatusTexts ComputeStatusTexts(const FrameSnapshot &s)
{
    StatusTexts t;
    t.page = QStringLiteral("Page: ");
    if (!s.listFolder.isEmpty() && s.pageCountKnown)
        t.page += QStringLiteral("%1 of %2").arg(s.pageIndex + 1).arg(s.pageCount);
    t.folder = CompactPath(QStringLiteral("Folder: ") + s.listFolder, 37);

    if (s.imagePath.isEmpty()) {
        t.image = QStringLiteral("Image:");
        t.originalSize = QStringLiteral("Original size:");
        t.zoom = QStringLiteral("Zoom:");
        t.currentSize = QStringLiteral("Current size:");
        return t;
    }
    t.image = s.imagePath.contains(QLatin1Char('/')) ? QStringLiteral("Image: ") + FileNameOf(s.imagePath)
                                                      : QStringLiteral("Image:");
    t.originalSize = QStringLiteral("Original size: ") + SizeText(s.photoSize);
    t.zoom = QStringLiteral("Zoom: %1%").arg(s.currentZoom);
    // Truncation makes 50 % of 1000 pixels 499; the pane shows the even size a person expects,
    // except at zooms that are odd by choice.
    QSize shown = s.displaySize;
    const bool oddZoom = s.currentZoom % 2 != 0 && s.currentZoom % 5 != 0;
    if (!oddZoom) {
        if (shown.width() > 0 && shown.width() % 2 == 1)
            shown.rwidth() += 1;
        if (shown.height() > 0 && shown.height() % 2 == 1)
            shown.rheight() += 1;
    }
    t.currentSize = QStringLiteral("Current size: ") + SizeText(shown);
    return t;
}

QString WindowTitle(const FrameSnapshot &s)
{
    const QString program = QStringLiteral("Quillmere");
    if (s.imagePath.isEmpty())
        return program;
    return FileNameOf(s.imagePath) + QStringLiteral(" - ") + program;
}

std::array<QString, 6> StatusPaneTemplates()
{
    auto padded = [](const char *label, int width) { return QString::fromLatin1(label).leftJustified(width, QLatin1Char(' ')); };
    return {padded("", 23),
            padded("Folder:", 61),
            padded("Image:", 44),
            padded("Original size:", 33),
            padded("Zoom:", 17),
            padded("Current size:", 32)};
}

