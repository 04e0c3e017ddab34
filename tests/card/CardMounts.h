#pragma once
// Real volumes for the card tests: ext4 images on loop devices and tmpfs mounts, mounted in a
// mount namespace private to the test process (entered by main), so that other processes see
// none of them and the kernel drops them all should the test die. Each Volumes object unmounts
// what it mounted when it goes, also after a failed assertion.

#include <QString>
#include <QTemporaryDir>

#include <optional>
#include <ostream>
#include <vector>

// Readable QStrings in assertion messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace velk::test {

// Set by main: whether this process has a mount namespace of its own and may mount; else why.
bool MountsAllowed(QString* why);
void EnterPrivateMountNamespace();

class Volumes {
public:
    Volumes();
    ~Volumes();
    Volumes(const Volumes&) = delete;
    Volumes& operator=(const Volumes&) = delete;

    // Whether loop mounts work here (probed once per process); else why.
    static bool LoopMountsWork(QString* why);

    // A 16 MiB ext4 image, with the label when one is given. Empty on failure.
    QString makeImage(const std::optional<QString>& label);
    // Mounts image through a loop device at folder (made when missing; relative to the scratch
    // folder unless absolute). Returns the mount root with its trailing "/", empty on failure.
    QString mountImage(const QString& image, const QString& folder, const QString& options = {});
    QString mountTmpfs(const QString& folder);
    // Binds the folder source (inside a mount) at folder; returns folder's root.
    QString bindMount(const QString& source, const QString& folder);
    // A FUSE mount whose server never answers: every access to the mounted file system waits,
    // as on a stale network mount. With a device it is a block-device FUSE mount of it.
    QString mountUnanswered(const QString& folder, const QString& device = {});
    // Ends the wait of everything stuck on the unanswered mounts (their calls then fail). Safe
    // from another thread while the owner is blocked.
    void abortUnanswered();
    // A loop device of its own for image, detached when this object goes.
    QString attachLoop(const QString& image);
    // Both in one step: an image with label mounted at folder.
    QString mountCard(const std::optional<QString>& label, const QString& folder);
    bool unmount(const QString& root);
    QString loopDeviceOf(const QString& root) const;

    QString scratch() const { return m_dir.path(); }
    const QString& lastError() const { return m_error; }

private:
    QString absolute(const QString& folder) const;
    bool run(const QString& program, const QStringList& args);

    QTemporaryDir m_dir;
    std::vector<QString> m_mounted; // roots, in mount order
    std::vector<QString> m_loops;
    std::vector<int> m_fuseFds; // closed by abortUnanswered or at the end
    QString m_error;
};

} // namespace velk::test
