#include "LineReader.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace velk::test {

LineReader::~LineReader() { close(); }

void LineReader::close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

std::optional<std::string> LineReader::readLine(int guardMilliseconds) {
    for (;;) {
        if (const auto end = m_buffer.find('\n'); end != std::string::npos) {
            std::string line = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            m_lines.push_back(line);
            return line;
        }
        if (m_fd < 0) return std::nullopt;
        pollfd p{m_fd, POLLIN, 0};
        const int ready = poll(&p, 1, guardMilliseconds);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char chunk[8192];
        const ssize_t n = read(m_fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close();
            continue; // a whole line may still be in the buffer
        }
        m_buffer.append(chunk, size_t(n));
    }
}

std::string LineReader::tail(const std::string& heading, std::size_t count) const {
    std::string out = heading + "\n";
    for (std::size_t i = m_lines.size() > count ? m_lines.size() - count : 0; i < m_lines.size();
         ++i)
        out += "  " + m_lines[i] + "\n";
    return out;
}

} // namespace velk::test
