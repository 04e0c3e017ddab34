#include "Journey.h"

#include "PrivateDisplay.h"

#include <QBuffer>
#include <QColor>
#include <QPainter>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace velk::test {

namespace fs = std::filesystem;

QPoint layout::sliderPoint(const QRect& slider, int p, int max) {
    return {slider.left() + 1 + (slider.width() - 3) * p / max, slider.center().y()};
}

ScreenReader::ScreenReader() {
    if (UsePrivateDisplay().empty()) return;
    // The server may reset a connection opened just as another client goes: try again.
    for (int attempt = 0; attempt < 10 && !m_display; ++attempt) {
        m_display = XOpenDisplay(nullptr);
        if (!m_display) usleep(100000);
    }
}

ScreenReader::~ScreenReader() {
    if (m_display) XCloseDisplay(m_display);
}

QImage ScreenReader::grab(const QRect& r) {
    if (!m_display) return {};
    XImage* x = XGetImage(m_display, DefaultRootWindow(m_display), r.x(), r.y(),
                          unsigned(r.width()), unsigned(r.height()), AllPlanes, ZPixmap);
    if (!x) return {};
    QImage image(r.width(), r.height(), QImage::Format_RGB32);
    for (int y = 0; y < r.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int i = 0; i < r.width(); ++i) line[i] = QRgb(XGetPixel(x, i, y)) | 0xff000000u;
    }
    XDestroyImage(x);
    return image;
}

Picture ReadPicture(const QImage& area) {
    Picture p;
    p.frame = FrameCode(area, &p.mirrored);
    p.camera = CameraOf(area);
    return p;
}

namespace {
bool near(QRgb p, QRgb c, int tolerance) {
    return std::abs(qRed(p) - qRed(c)) <= tolerance && std::abs(qGreen(p) - qGreen(c)) <= tolerance &&
           std::abs(qBlue(p) - qBlue(c)) <= tolerance;
}
constexpr QRgb kRowText = 0xffc8c8c8;   // RGB(200,200,200)
constexpr QRgb kHighlight = 0xff3399ff; // the selection colour
} // namespace

int TextRows(const QImage& list) {
    int rows = 0;
    for (int top = 0; top + 20 <= list.height(); top += 20) {
        int ink = 0;
        for (int y = top + 3; y < top + 17; ++y)
            for (int x = 2; x < 240; ++x) {
                const QRgb p = list.pixel(x, y);
                if (near(p, kRowText, 40) || near(p, 0xffffffff, 20)) ++ink;
            }
        if (ink > 20) ++rows;
    }
    return rows;
}

int SelectedRow(const QImage& list) {
    for (int top = 0; top + 20 <= list.height(); top += 20)
        if (ColourShare(list, QRect(250, top + 2, 100, 16), kHighlight, 20) > 0.5) return top / 20;
    return -1;
}

double ColourShare(const QImage& image, const QRect& rect, QRgb colour, int tolerance) {
    const QRect area = rect.intersected(image.rect());
    if (area.isEmpty()) return 0;
    long matching = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (near(image.pixel(x, y), colour, tolerance)) ++matching;
    return double(matching) / double(area.width() * area.height());
}

double ShareLike(const QImage& image, const QImage& picture) {
    if (picture.isNull() || image.size() != picture.size()) return 0;
    const QImage a = image.convertToFormat(QImage::Format_RGB32);
    const QImage b = picture.convertToFormat(QImage::Format_RGB32);
    long same = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (near(a.pixel(x, y), b.pixel(x, y), 12)) ++same;
    return double(same) / double(a.width() * a.height());
}

QImage ProgramPicture(const std::string& kindAndNumber) {
    return QImage(QString::fromStdString(std::string(VELK_BINARY_DIR) + "/res/art/" +
                                         kindAndNumber));
}

int VehicleNumber(const QImage& panel, bool rpm) {
    // The panel draws each digit picture at its own size over its state background.
    const std::vector<int> xs = rpm ? std::vector<int>{171, 180, 189, 198, 207}
                                    : std::vector<int>{22, 33, 44};
    const QSize size = rpm ? QSize(9, 12) : QSize(11, 18);
    const int y = rpm ? 96 : 90;
    const int first = rpm ? 190 : 180;
    static std::map<int, QImage> digits;
    int number = 0;
    for (const int x : xs) {
        int best = -1;
        double bestShare = 0.9;
        for (int d = 0; d < 10; ++d) {
            QImage& picture = digits[first + d];
            if (picture.isNull()) picture = ProgramPicture("png/" + std::to_string(first + d) + ".png");
            QImage composed(size, QImage::Format_RGB32);
            composed.fill(panel.pixel(x, y)); // the ground under a transparent corner
            QPainter(&composed).drawImage(0, 0, picture);
            const double share = ShareLike(panel.copy(x, y, size.width(), size.height()), composed);
            if (share > bestShare) {
                bestShare = share;
                best = d;
            }
        }
        if (best < 0) return -1;
        number = number * 10 + best;
    }
    return number;
}

std::vector<std::int16_t> ReadSound(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::int16_t> samples;
    std::int16_t s;
    while (in.read(reinterpret_cast<char*>(&s), sizeof s)) samples.push_back(s);
    return samples;
}

std::vector<long> ClickFrames(const std::vector<std::int16_t>& sound, int threshold, int rate) {
    std::vector<long> clicks;
    long quietSince = 0;
    const long frames = long(sound.size() / 2);
    for (long f = 0; f < frames; ++f) {
        if (std::abs(int(sound[size_t(f) * 2])) < threshold) continue;
        // A click lasts 5 ms; the next one comes a second later.
        if (clicks.empty() || f - quietSince > rate / 2) clicks.push_back(f);
        quietSince = f;
    }
    return clicks;
}

FileGrowth::FileGrowth(std::string path) : m_path(std::move(path)) {
    m_thread = std::thread([this] {
        long last = -1;
        while (!m_stop.load()) {
            struct stat st{};
            const long size = ::stat(m_path.c_str(), &st) == 0 ? long(st.st_size) : -1;
            if (size != last) {
                m_steps.push_back({Clock::now(), size});
                last = size;
            }
            usleep(500);
        }
    });
}

FileGrowth::~FileGrowth() { stop(); }

void FileGrowth::stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (m_old)
        setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

std::string CardFolder(const std::string& key,
                       const std::vector<std::pair<std::string, std::vector<std::string>>>& files) {
    static std::mutex lock;
    static std::map<std::string, std::string> made;
    std::lock_guard guard(lock);
    if (auto it = made.find(key); it != made.end()) return it->second;
    const std::string root = ScratchFolder() + "/" + key;
    for (const char* folder : {"ory_rec", "evt_rec", "usr_rec"})
        fs::create_directories(root + "/" + folder);
    for (const auto& [name, options] : files) {
        fs::create_directories(fs::path(root + "/" + name).parent_path());
        if (!MakeRecording(root + "/" + name, options)) return {};
    }
    made[key] = root;
    return root;
}

TileServer::TileServer() {
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(QColor::fromRgb(kTileColour));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "PNG");
    m_tile.assign(bytes.constData(), size_t(bytes.size()));

    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listener, 64) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(m_wake, O_CLOEXEC) != 0) {
        if (m_listener >= 0) ::close(m_listener);
        m_listener = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

TileServer::~TileServer() {
    if (m_wake[1] >= 0) (void)!::write(m_wake[1], "x", 1);
    if (m_thread.joinable()) m_thread.join();
    for (int fd : {m_listener, m_wake[0], m_wake[1]})
        if (fd >= 0) ::close(fd);
}

std::string TileServer::tileTemplate() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/{z}/{x}/{y}.png";
}

void TileServer::serve() {
    for (int requests = 0; requests < kMostRequests; ++requests) {
        pollfd p[2] = {{m_listener, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
        if (p[1].revents) return;
        if (!(p[0].revents & POLLIN)) continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        // One request per connection, read with a bound on its size and on the wait.
        std::string request;
        char chunk[2048];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
            pollfd c{client, POLLIN, 0};
            if (::poll(&c, 1, 2000) <= 0) break;
            const ssize_t n = ::read(client, chunk, sizeof chunk);
            if (n <= 0) break;
            request.append(chunk, size_t(n));
        }
        std::string response;
        unsigned z, x, y;
        char ext[8] = {};
        if (std::sscanf(request.c_str(), "GET /%u/%u/%u.%3s ", &z, &x, &y, ext) == 4 &&
            std::strcmp(ext, "png") == 0) {
            m_served.fetch_add(1);
            response = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                       std::to_string(m_tile.size()) +
                       "\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n" + m_tile;
        } else {
            response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        }
        size_t sent = 0;
        while (sent < response.size()) {
            const ssize_t n = ::send(client, response.data() + sent, response.size() - sent,
                                     MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += size_t(n);
        }
        ::close(client);
    }
}

namespace {
std::string g_cannotMount = "the test's main did not enter a mount namespace of its own";
} // namespace

void EnterPrivateMountNamespace() {
    // Before any thread: only then is the namespace the whole process's. The viewers this
    // process starts inherit it, so they see the test's cards and nobody else does.
    if (geteuid() != 0) {
        g_cannotMount = "mounting a card image needs root";
        return;
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        g_cannotMount = std::string("no mount namespace of our own: ") + std::strerror(errno);
        return;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        g_cannotMount = std::string("mounts cannot be made private: ") + std::strerror(errno);
        return;
    }
    // Loop volumes that others had mounted were copied into our table: detaching our copies
    // leaves theirs alone and keeps their cards out of the viewer's sight.
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point, word;
        fields >> id >> parent >> device >> root >> point;
        while (fields >> word && word != "-") {
        }
        std::string type, source;
        fields >> type >> source;
        if (source.rfind("/dev/loop", 0) == 0) ::umount2(point.c_str(), MNT_DETACH);
    }
    g_cannotMount.clear();
}

std::string CardImage::CannotMount() { return g_cannotMount; }

CardImage::CardImage(const std::string& label, const std::string& contents) {
    static int counter = 0;
    m_image = ScratchFolder() + "/card-" + std::to_string(++counter) + ".ext4";
    if (RunProgram({"mkfs.ext4", "-q", "-F", "-L", label, "-d", contents, m_image, "64M"}) != 0) {
        m_error = "mkfs.ext4 failed";
        m_image.clear();
    }
}

CardImage::~CardImage() {
    // The loop device of a `mount -o loop` frees itself once the file system is unmounted.
    if (!m_mounted.empty()) RunProgram({"umount", "-l", m_mounted});
    if (!m_image.empty()) std::remove(m_image.c_str());
}

bool CardImage::mount(const std::string& folder) {
    if (m_image.empty()) return false;
    fs::create_directories(folder);
    if (RunProgram({"mount", "-o", "loop", m_image, folder}) != 0) {
        m_error = "mount -o loop " + m_image + " " + folder + " failed";
        return false;
    }
    m_mounted = folder;
    return true;
}

bool CardImage::pull() {
    if (m_mounted.empty() || RunProgram({"umount", "-l", m_mounted}) != 0) return false;
    m_mounted.clear();
    return true;
}

namespace {
std::vector<std::string> topLevels(int pid, const std::string& pattern) {
    std::istringstream ids(ProgramOutput({"xdotool", "search", "--all", "--maxdepth", "1",
                                          "--onlyvisible", "--pid", std::to_string(pid), "--name",
                                          pattern}));
    std::vector<std::string> out;
    for (std::string id; ids >> id;) out.push_back(id);
    return out;
}
} // namespace

std::vector<std::string> WindowsOf(int pid, const std::string& title) {
    std::vector<std::string> out = topLevels(pid, "^" + title + "$");
    // The main window answers to the program's name as well as to its title.
    if (title != "VELK Viewer v5.1.00") {
        for (const std::string& main : topLevels(pid, "^VELK Viewer v5\\.1\\.00$"))
            std::erase(out, main);
    }
    return out;
}

std::string WaitForWindow(int pid, const std::string& title, int guard) {
    for (int waited = 0; waited < guard; waited += 50) {
        const auto windows = WindowsOf(pid, title);
        if (!windows.empty()) return windows.front();
        usleep(50000);
    }
    return {};
}

namespace {
// Gives the window the keyboard and waits (hang guard) until the server says it has it: keys
// sent before then reach the main window, where Enter plays the selected row.
void focus(const std::string& window) {
    for (int waited = 0; waited < 5000; waited += 50) {
        RunProgram({"xdotool", "windowfocus", "--sync", window});
        std::string focused = ProgramOutput({"xdotool", "getwindowfocus"});
        while (!focused.empty() && (focused.back() == '\n' || focused.back() == ' '))
            focused.pop_back();
        if (focused == window) return;
        usleep(50000);
    }
}
} // namespace

void KeysTo(const std::string& window, const std::string& keys) {
    focus(window);
    RunProgram({"xdotool", "key", keys});
}

bool AnswerBox(int pid, const std::string& title) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string box = WaitForWindow(pid, title, attempt == 0 ? 15000 : 500);
        if (box.empty()) return attempt > 0;
        KeysTo(box, "Return");
        for (int waited = 0; waited < 2000; waited += 50) {
            if (WindowsOf(pid, title).empty()) return true;
            usleep(50000);
        }
    }
    return false;
}

void TypeTo(const std::string& window, const std::string& text) {
    focus(window);
    RunProgram({"xdotool", "type", "--delay", "15", text});
}

std::vector<std::string> ThreadNames(int pid) {
    std::vector<std::string> names;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : fs::directory_iterator(tasks, error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name)) names.push_back(name);
    }
    return names;
}

std::vector<int> ChildrenOf(int pid) {
    std::vector<int> children;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid ...: the name may hold spaces, the last ')' ends it.
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state;
        int parent = 0;
        rest >> state >> parent;
        if (parent == pid) children.push_back(std::stoi(name));
    }
    return children;
}

void Pause(int milliseconds) { usleep(useconds_t(milliseconds) * 1000); }

} // namespace velk::test
