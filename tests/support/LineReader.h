#pragma once
// The output of a child process read line by line, every line kept for the test's checks and
// failure messages. Qt-free.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velk::test {

class LineReader {
public:
    LineReader() = default;
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Takes fd over (our end of the child's output pipe, or -1 for none) and closes it when
    // done.
    void open(int fd) {
        close();
        m_fd = fd;
    }
    // The next whole line (without its end), kept in lines(); nullopt when the output ended (a
    // last line without its end is dropped) or no line came within guardMilliseconds (0 only
    // takes what is already there).
    std::optional<std::string> readLine(int guardMilliseconds);
    // True once the output ended (or there never was one).
    bool ended() const { return m_fd < 0 && m_buffer.find('\n') == std::string::npos; }
    // Stops reading and closes our end.
    void close();

    // Records a line of the test's own (a note in the log).
    void note(const std::string& line) { m_lines.push_back(line); }
    const std::vector<std::string>& lines() const { return m_lines; }
    // The last `count` lines under `heading`, indented, for failure messages.
    std::string tail(const std::string& heading, std::size_t count) const;

private:
    int m_fd = -1;
    std::string m_buffer;
    std::vector<std::string> m_lines;
};

} // namespace velk::test
