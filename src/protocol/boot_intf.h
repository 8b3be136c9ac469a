// The boot ROM's framed protocol: command frames 01 E0 FC ..., event frames
// 04 0E ..., the engine that runs one transaction over the port, the event
// queue for unsolicited status events, and every command the tool sends.
//
// A CBootIntf holds only a pointer to the port; all receive state lives in the
// port, so short-lived protocol objects on the same port share it.
//
// Results of the commands: 1 = answer received and matched, -1 = no complete
// answer before the time-out (also a failed write or a closed port), -2 = an
// answer that did not match, -3 = arguments the frame cannot carry (nothing
// is sent).
#pragma once

#include <cstddef>
#include <cstdint>

class CQuarnUartPort;

enum BootResult : int {
    BOOT_OK = 1,
    BOOT_TIMEOUT = -1,
    BOOT_WRONG_ANSWER = -2,
    BOOT_BAD_ARGUMENT = -3,
};

class CBootIntf {
public:
    explicit CBootIntf(CQuarnUartPort* port = nullptr) : m_port(port) {}
    virtual ~CBootIntf() = default;

    void bind(CQuarnUartPort* port) { m_port = port; }
    CQuarnUartPort* port() const { return m_port; }

    // ---- transaction engine -------------------------------------------------
    // Starts a transaction; always 1. A frame that expects no answer passes no
    // buffer and length 0.
    int SendCommand(const uint8_t* frame, size_t length, uint8_t* response_buffer, int expected_length,
                    double timeout_seconds);
    // One receive step: 1 answer complete, 0 not yet, -1 time-out.
    int PollResponse();
    // The receive step of LinkCheck: checks the time-out before reading and
    // has its own start latch.
    int PollLinkResponse();

    // ---- event queue --------------------------------------------------------
    // Payload length (> 0) of the first queued event whose payload starts with
    // `opcode` (copied to `out`); non-matching events before it are consumed.
    // 0 when the line was quiet; -2 when the next event does not fit `capacity`
    // (it stays queued).
    int WaitEvent(uint8_t opcode, uint8_t* out, int capacity);
    void FeedEventParser(const uint8_t* bytes, size_t count);

    // ---- link and register commands ------------------------------------------
    int LinkCheck(double timeout);
    int WriteReg(uint32_t addr, uint32_t value, double timeout);
    int ReadReg(uint32_t addr, uint32_t& value, double timeout);
    int ReadRegChecked(uint32_t addr, uint32_t& value);
    int SetBaudRate(int baud, int fast_link);
    // CRC of [start, start + length - 1] computed by the chip.
    int CheckCRC(uint32_t start, uint32_t length, uint32_t& crc, int timeout_seconds);
    // n counts opcode, address and data: the data is n - 5 bytes (5 <= n <= 255).
    int MemoryWrite(uint8_t opcode, uint32_t addr, const uint8_t* data, int n);
    int RebootCommand();
    int ResetMagic();

    // ---- flash commands -------------------------------------------------------
    int FlashEraseAll();
    int FlashErase4K(uint32_t addr);
    int FlashErase(uint8_t spi_opcode, uint32_t addr);
    int FlashReadSR(uint8_t spi_opcode, uint8_t& value);
    int FlashWriteSR(int width, uint8_t spi_opcode, uint32_t value);
    int GetFlashMid(uint32_t& mid);
    // Clocks n bytes out through the SPI pass-through (opcode first) and
    // copies the n bytes clocked in to rx (which may be null).
    int FlashSpiCommand(const uint8_t* tx, uint8_t* rx, int n);
    int FlashSpiRead(const uint8_t* tx, uint8_t* rx, int n);
    int FlashWrite4K(uint32_t addr, const uint8_t* data);
    int FlashWrite(uint32_t addr, const uint8_t* data, int n);
    int FlashRead4K(uint32_t addr, uint8_t* out);
    int FlashRead(uint32_t addr, uint8_t* out, int n);

    // Time-outs the two flash reads use at a port rate.
    static double flash_read4k_timeout(int baud);
    static double flash_read_timeout(int baud, int n);

    // Largest SPI transfer FlashSpiCommand / FlashSpiRead accept.
    static constexpr int kMaxSpiBytes = 4096;

private:
    int spi_transfer(const char* name, const uint8_t* tx, int n, uint8_t* response);
    enum class OnMismatch {
        Fail,            // -2 at once
        ResetAndListen,  // forget the bytes, a later answer may still match
        ListenOn,        // ask for nothing more; ends at the time-out
    };
    template <typename Match>
    int transact(const uint8_t* frame, size_t length, uint8_t* response, int expected, double timeout,
                 OnMismatch on_mismatch, Match matches);
    int poll_until_done();
    int poll_step(bool link_path);

    CQuarnUartPort* m_port;
};
