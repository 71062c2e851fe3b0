#include "viewer/options_pages.h"

#include <type_traits>

namespace pv {

namespace {

constexpr const wchar_t* kTitleModes[] = {L"No title bar", L"The image's name", L"The name and details",
                                         L"Only while the mouse is over"};
constexpr const wchar_t* kSortOrders[] = {L"Name", L"Pixel count", L"File size", L"File time", L"Folder"};
constexpr const wchar_t* kDelayModes[] = {L"No delay", L"Wait for a key or a click", L"Fixed delay"};
constexpr const wchar_t* kNameLines[] = {L"No name", L"One line", L"Two lines", L"Three lines", L"Four lines"};

// Accessors of one field, as whole numbers.
#define PV_FIELD(f) [](const Options& o) { return static_cast<int32_t>(o.f); }, [](Options& o, int32_t v) { o.f = static_cast<std::remove_reference_t<decltype(o.f)>>(v); }
#define PV_COLOUR(f)                                                                                  \
  [](const Options& o) { return int32_t{o.f.red} << 16 | int32_t{o.f.green} << 8 | o.f.blue; },      \
      [](Options& o, int32_t v) {                                                                     \
        o.f.red = static_cast<uint8_t>(v >> 16);                                                      \
        o.f.green = static_cast<uint8_t>(v >> 8);                                                     \
        o.f.blue = static_cast<uint8_t>(v);                                                           \
      }

}  // namespace

const OptionControl kOptionControls[] = {
    {OptionPage::Viewer, OptionKind::Choice, L"Title bar", PV_FIELD(viewerTitleMode), 0, 3, kTitleModes},
    {OptionPage::Viewer, OptionKind::Check, L"Open images full screen", PV_FIELD(openFullScreen)},
    {OptionPage::Viewer, OptionKind::Check, L"Fit images to the window", PV_FIELD(autoSizeToWindow)},
    {OptionPage::Viewer, OptionKind::Check, L"Only shrink, never enlarge", PV_FIELD(shrinkOnly)},
    {OptionPage::Viewer, OptionKind::Check, L"Shrink large images in full screen", PV_FIELD(shrinkLargeInFullScreen)},
    {OptionPage::Viewer, OptionKind::Check, L"Show the full path in the title", PV_FIELD(showFullPath)},
    {OptionPage::Viewer, OptionKind::Check, L"Remember recent folders", PV_FIELD(keepRecent)},
    {OptionPage::Viewer, OptionKind::Colour, L"Background colour", PV_COLOUR(viewerBackground)},
    {OptionPage::Viewer, OptionKind::Check, L"Border around borderless images", PV_FIELD(viewerBorder.shown)},
    {OptionPage::Viewer, OptionKind::Colour, L"Border colour", PV_COLOUR(viewerBorder)},
    {OptionPage::Browser, OptionKind::Number, L"Thumbnail width", PV_FIELD(indexIconWidth), kMinIconSide, kMaxIconSide},
    {OptionPage::Browser, OptionKind::Number, L"Thumbnail height", PV_FIELD(indexIconHeight), kMinIconSide,
     kMaxIconSide},
    {OptionPage::Browser, OptionKind::Number, L"Spacing", PV_FIELD(indexIconSpacing), 0, kMaxIconSpacing},
    {OptionPage::Browser, OptionKind::Choice, L"Sort by", PV_FIELD(indexSortOrder), 1, 5, kSortOrders},
    {OptionPage::Browser, OptionKind::Choice, L"Names under thumbnails", PV_FIELD(indexDisplaySwitches[2]), 0, 4,
     kNameLines},
    {OptionPage::Browser, OptionKind::Check, L"Show folders", PV_FIELD(indexDisplaySwitches[0])},
    {OptionPage::Browser, OptionKind::Check, L"Show slideshow scripts", PV_FIELD(indexDisplaySwitches[1])},
    {OptionPage::Browser, OptionKind::Check, L"Keep a thumbnail index file in each folder", PV_FIELD(indexAutoCache)},
    {OptionPage::Browser, OptionKind::Check, L"Use the thumbnail size of the index file", PV_FIELD(indexCacheSizeWins)},
    {OptionPage::Browser, OptionKind::Check, L"Show the full folder path", PV_FIELD(indexShowFullFolder)},
    {OptionPage::Browser, OptionKind::Check, L"Show the number of images", PV_FIELD(indexShowCount)},
    {OptionPage::Browser, OptionKind::Check, L"Close the browser when an image opens", PV_FIELD(indexCloseOnOpen)},
    {OptionPage::Browser, OptionKind::Check, L"Keep the window's size", PV_FIELD(indexFixedWindowSize)},
    {OptionPage::Browser, OptionKind::Colour, L"Background colour", PV_COLOUR(indexBackground)},
    {OptionPage::Slideshow, OptionKind::Choice, L"Between images", PV_FIELD(slideDelayMode), 0, 2, kDelayModes},
    {OptionPage::Slideshow, OptionKind::Number, L"Delay in tenths of a second", PV_FIELD(slideDelayTenths), 0, 36000},
    {OptionPage::Slideshow, OptionKind::Check, L"Maximise the window during slideshows", PV_FIELD(slideMaximise)},
    {OptionPage::Slideshow, OptionKind::Check, L"Loop continuously", PV_FIELD(slideLoop)},
    {OptionPage::Slideshow, OptionKind::Check, L"Sort files alphabetically", PV_FIELD(slideSort)},
    {OptionPage::Slideshow, OptionKind::Check, L"Delete the script when done", PV_FIELD(slideSelfDelete)},
    {OptionPage::Slideshow, OptionKind::Check, L"Edit scripts in Notepad before running", PV_FIELD(slideNotepad)},
};
const size_t kOptionControlCount = sizeof kOptionControls / sizeof kOptionControls[0];

#undef PV_FIELD
#undef PV_COLOUR

const wchar_t* OptionPageTitle(OptionPage page) {
  switch (page) {
    case OptionPage::Viewer: return L"Viewer";
    case OptionPage::Browser: return L"Browser";
    default: return L"Slideshow";
  }
}

}  // namespace pv
