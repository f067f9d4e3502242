#pragma once
// The shared image list of the window and its button pictures, built from the pictures compiled
// into the program. Indexes: 0/1 root node (server stopped/running), 2/3 event node (unassigned/
// assigned), 4/18 start/stop button, 5-7 variable marks, 2, 3 and 8-11 log row kinds, 12-14 the
// tabs, 15/16 the notification icon (stopped/running), 17 "Anzeigen", 19 "Beenden".

#include <QIcon>
#include <QString>

#include <array>

namespace pelotest::desktop {

class ImageList {
  public:
    static constexpr int kCount = 20;
    static constexpr int kRootStopped = 0, kRootRunning = 1;
    static constexpr int kStart = 4, kStop = 18;
    static constexpr int kTabGeneral = 12, kTabLog = 13, kTabSettings = 14;
    static constexpr int kTrayStopped = 15, kTrayRunning = 16;
    static constexpr int kShow = 17, kQuit = 19;
    static constexpr int kWarning = 11;

    // Needs the application object (the style gives picture 11).
    ImageList();

    // Picture index (an empty icon outside 0..19, as for a log row without a picture).
    QIcon icon(int index) const;
    // A button picture by resource name: "btn1", "infobt" or "infosm".
    static QIcon button(const QString& name);

  private:
    std::array<QIcon, kCount> icons_;
};

} // namespace pelotest::desktop
