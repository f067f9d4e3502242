#pragma once
// The shared image list of the window and its button pictures, built from the pictures compiled
// into the program (img0.png to img19.png, by the numbers of Picture).

#include <QIcon>
#include <QString>

#include <array>

namespace pelotest::desktop {

class ImageList {
  public:
    // The pictures by what they show. A log row's picture is its kind's number (LogKind in
    // state/RequestLog.h, stored in the settings file): kEventNode, kTemplateNode and the four
    // from kStaticPage on.
    enum Picture : int {
        kRootStopped = 0,  // the tree's entry node while the server is stopped
        kRootRunning = 1,  // ... while it runs
        kEventNode = 2,    // an event without a template
        kTemplateNode = 3, // an event with its template
        kStart = 4,        // start the server
        kMarkPlain = 5,    // the variables' marks
        kMarkPassed = 6,
        kMarkUsed = 7,
        kStaticPage = 8, // log rows: a static page, a template assigned, a start page set
        kAssigned = 9,
        kStartSite = 10,
        kWarning = 11, // a missing page (log row, and the folder fields' mark)
        kTabGeneral = 12,
        kTabLog = 13,
        kTabSettings = 14,
        kTrayStopped = 15, // the notification icon
        kTrayRunning = 16,
        kShow = 17, // the notification menu: show the window, and quit (below)
        kStop = 18, // stop the server
        kQuit = 19,
        kCount = 20
    };

    // Needs the application object (the style gives kWarning).
    ImageList();

    // Picture index (an empty icon outside 0..19, as for a log row without a picture).
    QIcon icon(int index) const;
    // A button picture by resource name: "btn1", "infobt" or "infosm".
    static QIcon button(const QString& name);

  private:
    std::array<QIcon, kCount> icons_;
};

} // namespace pelotest::desktop
