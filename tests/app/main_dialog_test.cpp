#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/file_error_text.h"
#include "dialog_bench.h"
#include "image/image_info.h"

namespace wxr::testing {
namespace {

using app::CWXR7305_Upgrade_ToolDlg;
using ::testing::ElementsAre;

constexpr std::int32_t kEmbeddedSize = 38'648;
constexpr std::int32_t kEmbeddedRange = kEmbeddedSize / 16 + 1;  // 2,416
constexpr std::int32_t kEmbeddedChunks = 22 * 112;               // 2,464
const std::string kSuccess = "Firmware upgrade successful.\nPlease turn off the device. Then turn on again.";

std::vector<std::string> after(const std::vector<std::string>& lines, std::size_t first) {
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, lines.size())), lines.end()};
}

// An image file with an info block for `model` (sensor 3), in a fresh folder.
class ImageFiles {
public:
    ImageFiles()
        : dir_(std::filesystem::temp_directory_path() /
               ("wxr_dialog_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
        std::filesystem::create_directories(dir_);
    }
    ~ImageFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::u16string write(const std::string& name, std::vector<std::uint8_t> bytes) {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path.u16string();
    }
    static std::vector<std::uint8_t> image_for(std::uint8_t model) {
        std::vector<std::uint8_t> bytes(300, 0xA5);
        const std::size_t p = 100;
        std::copy(kInfoMarker.begin(), kInfoMarker.end(), bytes.begin() + p);
        bytes[p + 4] = model;
        bytes[p + 5] = 7;  // version
        bytes[p + 6] = 3;  // sensor
        return bytes;
    }

private:
    std::filesystem::path dir_;
};

// --- start-up ---------------------------------------------------------------

TEST(DialogStartUp, InitialisesInOrderAndTakesTheEmbeddedModel) {
    DialogBench bench;
    bench.start();
    EXPECT_THAT(bench.window.log_lines(),
                ElementsAre("about entry 16 關於 WXR7305_Upgrade_Tool(&A)...", "icon",
                            "caption ZQ-HLKD4/700-ZQ315 upgrade tool", "timer 1 200", "raw input",
                            "text 1004 Improve compatibility. "));
    EXPECT_EQ(bench.dialog->image_store().length, kEmbeddedSize);
    EXPECT_EQ(bench.dialog->expected_model(), 16);
    EXPECT_TRUE(bench.window.boxes().empty());
}

TEST(DialogStartUp, RefusedRawInputSaysErrorOnceAndGoesOn) {
    DialogBench bench;
    bench.window.raw_input_refused = true;
    bench.start();
    const auto boxes = bench.window.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "error");
    EXPECT_EQ(boxes[0].caption, "WXR7305_Upgrade_Tool");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(bench.window.text_of(app::kIdTextArea), u"Improve compatibility. ");
    EXPECT_EQ(bench.dialog->expected_model(), 16);
}

TEST(DialogStartUp, MissingOrBlocklessImageExpectsModelZero) {
    DialogBench missing;
    missing.start([](ImageStore& store) { store.length = 0; });
    EXPECT_EQ(missing.dialog->expected_model(), 0);
    EXPECT_EQ(missing.window.text_of(app::kIdTextArea), u"Improve compatibility. ");

    DialogBench blockless;
    blockless.start([](ImageStore& store) {
        store.bytes.fill(0x11);
        store.length = 5000;
    });
    EXPECT_EQ(blockless.dialog->expected_model(), 0);
}

TEST(DialogStartUp, ApplicationNameIsTheFileNameWithoutExtension) {
    EXPECT_EQ(app::application_name_from_path(u"C:\\Tools\\WXR7305_Upgrade_Tool.exe"), u"WXR7305_Upgrade_Tool");
    EXPECT_EQ(app::application_name_from_path(u"/usr/bin/WXR7305_Upgrade_Tool"), u"WXR7305_Upgrade_Tool");
    EXPECT_EQ(app::application_name_from_path(u"./a.b.exe"), u"a.b");
    EXPECT_EQ(app::application_name_from_path(u"/opt/.hidden"), u".hidden");
}

// --- closing and the About entry ---------------------------------------------

TEST(DialogClose, EscapeAndEnterDoNothingUntilACloseIsRequested) {
    DialogBench bench;
    bench.start();
    bench.dialog->OnCommand(app::kIdCancel);
    bench.dialog->OnCommand(app::kIdOk);
    EXPECT_FALSE(bench.window.ended());
    EXPECT_FALSE(bench.dialog->close_requested());

    bench.dialog->OnClose();
    EXPECT_TRUE(bench.dialog->close_requested());
    EXPECT_EQ(bench.window.log_lines().back(), "end 2");
    EXPECT_TRUE(bench.window.boxes().empty());  // nothing runs: no question

    bench.dialog->OnOK();  // the flag stays: OK now ends with 1
    EXPECT_EQ(bench.window.log_lines().back(), "end 1");
}

TEST(DialogClose, AboutEntryOpensTheAboutBoxOtherSystemCommandsAreDefault) {
    DialogBench bench;
    bench.start();
    EXPECT_TRUE(bench.dialog->OnSysCommand(0x0010));
    EXPECT_TRUE(bench.dialog->OnSysCommand(0x001F));  // the low four bits are the system's
    EXPECT_FALSE(bench.dialog->OnSysCommand(0xF060));  // close
    EXPECT_FALSE(bench.dialog->OnSysCommand(0x0020));
    EXPECT_EQ(bench.window.count("about box"), 2u);
    EXPECT_FALSE(bench.window.ended());
}

// --- the timer -----------------------------------------------------------------

TEST(DialogTimer, MovesTheBarOnlyWhenTheCounterChanged) {
    DialogBench bench;
    bench.start();
    const std::size_t before = bench.window.log_lines().size();
    bench.dialog->OnTimer(1);  // counter 0, shown 0: nothing
    bench.add_device();
    bench.dialog->OnCheckAndUpgrade();
    ASSERT_TRUE(bench.wait_for_worker());
    bench.dialog->OnTimer(2);  // another timer: nothing
    bench.dialog->OnTimer(1);
    bench.dialog->OnTimer(1);
    const auto lines = after(bench.window.log_lines(), before);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "pos " + std::to_string(kEmbeddedChunks)), 1);
    // Beyond the range's high end: the window shows a full bar.
    EXPECT_GT(kEmbeddedChunks, kEmbeddedRange);
}

// --- Check and Upgrade -----------------------------------------------------------

TEST(DialogUpgrade, WritesTheEmbeddedImageAndGivesTheButtonBackAfterTheBox) {
    DialogBench bench;
    bench.add_device({.version = 3, .model = 16, .sensor = 3});  // an older version is accepted
    bench.start();
    const std::size_t before = bench.window.log_lines().size();
    bench.dialog->OnCommand(app::kIdCheckAndUpgrade);
    // Before the worker can report anything the bar is reset and ranged.
    const auto started = after(bench.window.log_lines(), before);
    ASSERT_GE(started.size(), 3u);
    EXPECT_THAT(std::vector(started.begin(), started.begin() + 3),
                ElementsAre("enable 1000 off", "range 0 2416", "pos 0"));

    ASSERT_TRUE(bench.wait_for_worker());
    const auto boxes = bench.window.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kSuccess);
    EXPECT_EQ(boxes[0].caption, "WXR7305_Upgrade_Tool");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Exclamation);
    EXPECT_FALSE(boxes[0].from_dialog_thread);
    const auto lines = bench.window.log_lines();
    EXPECT_EQ(lines.back(), "enable 1000 on");
    EXPECT_LT(boxes[0].log_position, lines.size() - 1);  // the button comes back after the box

    EXPECT_EQ(bench.dialog->progress(), kEmbeddedChunks);
    const auto model = bench.sim.model(0);
    ASSERT_TRUE(model.end_report().has_value());
    EXPECT_TRUE(model.end_report()->matches_flash);
    const auto& store = bench.dialog->image_store();
    EXPECT_TRUE(std::equal(store.bytes.begin(), store.bytes.begin() + kEmbeddedSize, model.flash().begin()));
    EXPECT_FALSE(bench.window.hand_over_timed_out());
}

TEST(DialogUpgrade, SecondUpgradeResetsTheBarAtOnceAndFillsItAgain) {
    DialogBench bench;
    bench.add_device({.version = 200, .model = 16, .sensor = 3});  // a newer version is accepted too
    bench.start();
    bench.dialog->OnCheckAndUpgrade();
    ASSERT_TRUE(bench.wait_for_worker());
    bench.dialog->OnTimer(1);
    ASSERT_EQ(bench.window.position(), kEmbeddedChunks);
    bench.dialog->OnCheckAndUpgrade();
    EXPECT_EQ(bench.window.position(), 0);
    ASSERT_TRUE(bench.wait_for_worker());
    EXPECT_EQ(bench.window.boxes().size(), 2u);
    // The count ends where the last run's did; the bar, reset to 0, must still show it.
    bench.dialog->OnTimer(1);
    EXPECT_EQ(bench.window.position(), kEmbeddedChunks);
}

TEST(DialogUpgrade, NoDeviceSaysDeviceNotFoundAndTouchesNothing) {
    DialogBench bench;
    bench.start();
    const std::size_t before = bench.window.log_lines().size();
    bench.dialog->OnCommand(app::kIdCheckAndUpgrade);
    EXPECT_THAT(after(bench.window.log_lines(), before), ElementsAre("box Device not found!!"));
    const auto box = bench.window.boxes().at(0);
    EXPECT_EQ(box.caption, "WXR7305_Upgrade_Tool");
    EXPECT_EQ(box.icon, MessageIcon::None);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_TRUE(bench.dialog->worker_finished());
}

// Linux only asks for the second line; the text names the command that helps.
TEST(DialogUpgrade, NotFoundNamesInterfacesRefusedForPermissionsWhenAsked) {
    struct Refusing final : ForwardingHid {
        using ForwardingHid::ForwardingHid;
        std::size_t inaccessible_interfaces() const override { return 2; }
    };
    for (bool explain : {false, true}) {
        DialogBench bench;
        Refusing hid(bench.sim);
        app::ToolEnvironment env{hid, bench.clock, bench.mutexes, bench.shift, kTestAppName};
        env.explain_refused_interfaces = explain;
        bench.dialog = std::make_unique<app::CWXR7305_Upgrade_ToolDlg>(env);
        bench.dialog->attach(bench.window);
        bench.dialog->OnInitDialog();
        bench.dialog->OnCommand(app::kIdCheckAndUpgrade);
        EXPECT_EQ(bench.window.boxes().at(0).text,
                  explain ? "Device not found!!\n2 HID interface(s) could not be opened: permission denied.\n"
                            "Run 'sudo wxr7305 udev-rule --install' to let users reach the device: it adds\n"
                            "/etc/udev/rules.d/70-wxr7305-tq16-local.rules beside the package's rule."
                          : "Device not found!!");
    }
}

// Another program writing the device: not found when it already had it,
// refused with a box when it took it between the search and the write.
TEST(DialogUpgrade, AnotherProgramsDeviceIsNeitherFoundNorWritten) {
    DialogBench bench;
    bench.sim.add_interface({.path = u"sim0", .in_use_for_ms = 600000});
    bench.start();
    bench.dialog->OnCommand(app::kIdCheckAndUpgrade);
    EXPECT_EQ(bench.window.boxes().at(0).text,
              "Device not found!!\n1 HID interface(s) in use by another program writing the device: "
              "try again once it is done.");

    DialogBench taken;
    taken.add_device();
    taken.start();
    ASSERT_TRUE(taken.sim.claim(u"sim0"));  // a station's run on the same unit
    taken.dialog->OnCommand(app::kIdCheckAndUpgrade);
    EXPECT_EQ(taken.window.boxes().at(0).text, "The device is being written by another program. Try again once it is done.");
    EXPECT_FALSE(taken.sim.model(0).end_report().has_value());
    taken.sim.unclaim(u"sim0");
    taken.dialog->OnCommand(app::kIdCheckAndUpgrade);
    ASSERT_TRUE(taken.wait_for_worker());
    EXPECT_EQ(taken.window.boxes().at(1).text, kSuccess);
    EXPECT_TRUE(taken.sim.claim(u"sim0"));  // the worker's end gave it back
}

struct MismatchCase {
    const char* name;
    sim::Identity device;
    const char* text;
};

class DialogMismatch : public ::testing::TestWithParam<MismatchCase> {};

TEST_P(DialogMismatch, RefusesWithTheErrorBoxEvenThroughTheShiftOverride) {
    DialogBench bench;
    bench.add_device(GetParam().device);
    bench.start();
    bench.shift.note_press();  // lists a device of another model
    const std::size_t before = bench.window.log_lines().size();
    bench.dialog->OnCheckAndUpgrade();
    EXPECT_THAT(after(bench.window.log_lines(), before), ElementsAre(std::string("box ") + GetParam().text));
    const auto box = bench.window.boxes().at(0);
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.icon, MessageIcon::None);
    EXPECT_EQ(bench.sim.model(0).counters().start_reports, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DialogMismatch,
    ::testing::Values(MismatchCase{"Sensor", {.version = 57, .model = 16, .sensor = 4}, "Sensor不同!! "},
                      MismatchCase{"Model", {.version = 57, .model = 17, .sensor = 3}, "機種不符!! "},
                      MismatchCase{"Both", {.version = 57, .model = 17, .sensor = 0}, "Sensor不同!! 機種不符!! "}),
    [](const ::testing::TestParamInfo<MismatchCase>& info) { return std::string(info.param.name); });

TEST(DialogUpgrade, AnotherModelIsNotEvenFoundWithoutShift) {
    DialogBench bench;
    bench.add_device({.version = 57, .model = 17, .sensor = 3});
    bench.start();
    bench.dialog->OnCheckAndUpgrade();
    EXPECT_EQ(bench.window.boxes().at(0).text, "Device not found!!");
}

// A device whose every write throws: the worker reports a failure and still
// gives the button back; nothing escapes the thread.
class ThrowingHid final : public ForwardingHid {
public:
    using ForwardingHid::ForwardingHid;
    bool set_feature(HidHandle d, std::span<const std::uint8_t> r) override {
        if (r.size() > 1 && r[1] == 0x0E) throw std::runtime_error("transport gone");
        return inner_.set_feature(d, r);
    }
};

TEST(DialogUpgrade, AnExceptionInTheWorkerEndsAsUpgradeFail) {
    VirtualClock clock;
    sim::SimHid sim(clock);
    sim.add_interface({.path = u"sim0"});
    ThrowingHid hid(sim);
    LocalNamedMutexFactory mutexes;
    FedShiftKeyState shift;
    FakeWindow window;
    CWXR7305_Upgrade_ToolDlg dialog({hid, clock, mutexes, shift, kTestAppName});
    dialog.attach(window);
    dialog.OnInitDialog();
    dialog.OnCheckAndUpgrade();
    const auto deadline = std::chrono::steady_clock::now() + kWorkerBound;
    while (!dialog.worker_finished() && std::chrono::steady_clock::now() < deadline) {
        window.run_pending_calls();
    }
    ASSERT_TRUE(dialog.worker_finished());
    EXPECT_EQ(window.boxes().at(0).text, "Upgrade fail !!");
    EXPECT_EQ(window.log_lines().back(), "enable 1000 on");
    dialog.OnDestroy();
}

// --- while the worker runs -------------------------------------------------------

TEST(DialogDuringUpgrade, CloseAsksFirstAndNoKeepsTheDialog) {
    DialogBench bench;
    bench.add_device();
    bench.start(load_embedded_image, true);
    bench.dialog->OnCheckAndUpgrade();
    ASSERT_TRUE(bench.latched.wait_until_held());
    ASSERT_TRUE(bench.dialog->upgrade_running());

    bench.dialog->OnClose();  // the fake answers No
    auto boxes = bench.window.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "An upgrade is in progress. Closing now can leave the device unusable.\nClose anyway?");
    EXPECT_EQ(boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(boxes[0].caption, "WXR7305_Upgrade_Tool");
    EXPECT_FALSE(bench.window.ended());
    EXPECT_FALSE(bench.dialog->close_requested());
    bench.dialog->OnCommand(app::kIdCancel);  // Escape still does nothing
    EXPECT_FALSE(bench.window.ended());

    bench.latched.release();
    ASSERT_TRUE(bench.wait_for_worker());
    EXPECT_EQ(bench.window.boxes().back().text, kSuccess);
    bench.dialog->OnClose();  // nothing runs now: no question
    EXPECT_TRUE(bench.window.ended());
    EXPECT_EQ(bench.window.boxes().size(), 2u);
}

TEST(DialogDuringUpgrade, YesClosesStopsTheWritesAndJoinsTheWorker) {
    DialogBench bench;
    bench.add_device();
    bench.start(load_embedded_image, true);
    bench.dialog->OnCheckAndUpgrade();
    ASSERT_TRUE(bench.latched.wait_until_held());

    bench.window.yes_no_answers.push_back(MessageAnswer::Yes);
    bench.dialog->OnClose();
    EXPECT_TRUE(bench.dialog->close_requested());
    EXPECT_EQ(bench.window.log_lines().back(), "end 2");

    // The held write finishes, nothing new opens, and the worker's outcome
    // goes unshown to a window that is gone.
    bench.latched.release();
    bench.dialog->OnDestroy();
    EXPECT_TRUE(bench.dialog->worker_finished());
    EXPECT_FALSE(bench.dialog->upgrade_running());
    EXPECT_EQ(bench.window.boxes().size(), 1u);  // only the question
    EXPECT_EQ(bench.sim.model(0).counters().chunk_reports, 1u);
    EXPECT_FALSE(bench.sim.model(0).end_report().has_value());
    EXPECT_EQ(bench.sim.stats(0).open_handles, 0u);
    EXPECT_FALSE(bench.window.hand_over_timed_out());
}

TEST(DialogDuringUpgrade, EndingWhileTheResultBoxWaitsDoesNotDeadlock) {
    DialogBench bench;
    bench.add_device();
    bench.start();
    bench.dialog->OnCheckAndUpgrade();
    // The worker waits for the dialog thread to show its box; the dialog
    // ends without having run it, and must run it while it waits.
    const auto deadline = std::chrono::steady_clock::now() + kWorkerBound;
    while (!bench.window.has_pending_calls() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(bench.window.has_pending_calls());
    bench.dialog->OnDestroy();
    EXPECT_TRUE(bench.dialog->worker_finished());
    EXPECT_FALSE(bench.window.hand_over_timed_out());
}

TEST(DialogDuringUpgrade, OpenFileAndButton1WaitForTheWorker) {
    DialogBench bench;
    bench.add_device();
    bench.start(load_embedded_image, true);
    bench.dialog->OnCheckAndUpgrade();
    ASSERT_TRUE(bench.latched.wait_until_held());
    const auto opens = bench.sim.stats(0).opens;
    const std::size_t before = bench.window.log_lines().size();

    bench.window.file_to_choose = u"/nonexistent.bin";
    bench.dialog->OnCommand(app::kIdOpenFile);
    bench.dialog->OnCommand(app::kIdButton1);
    bench.dialog->OnCommand(app::kIdCheckAndUpgrade);
    EXPECT_EQ(bench.window.log_lines().size(), before);
    EXPECT_EQ(bench.sim.stats(0).opens, opens);

    bench.latched.release();
    ASSERT_TRUE(bench.wait_for_worker());
    bench.dialog->OnButton1();  // now it runs a pass
    EXPECT_GT(bench.sim.stats(0).opens, opens);
    EXPECT_EQ(bench.dialog->device_list().count, 1);
}

// --- Open File -------------------------------------------------------------------

TEST(DialogOpenFile, CancelChangesNothing) {
    DialogBench bench;
    bench.start();
    const std::size_t before = bench.window.log_lines().size();
    bench.dialog->OnCommand(app::kIdOpenFile);
    EXPECT_THAT(after(bench.window.log_lines(), before), ElementsAre("choose file binary File (*.bin)"));
}

TEST(DialogOpenFile, AValidFileShowsItsInfoAndChangesOnlyTheExpectedModel) {
    ImageFiles files;
    const auto path = files.write("model17.bin", ImageFiles::image_for(17));
    DialogBench bench;
    bench.add_device({.version = 57, .model = 17, .sensor = 3});
    bench.start();
    bench.window.file_to_choose = path;
    const std::size_t before = bench.window.log_lines().size();
    bench.dialog->OnCommand(app::kIdOpenFile);

    ImageInfo info;
    ASSERT_EQ(read_image_file_info(path, info), 1);
    EXPECT_THAT(after(bench.window.log_lines(), before),
                ElementsAre("choose file binary File (*.bin)", "text 1002 " + to_utf8(path), "enable 1000 off",
                            "text 1004 ", "enable 1000 on", "text 1004 " + to_utf8(format_image_info(info))));
    EXPECT_EQ(bench.dialog->expected_model(), 17);
    EXPECT_EQ(bench.dialog->image_store().length, kEmbeddedSize);

    // The model-17 device is found now, and refused: the embedded image is model 16.
    bench.dialog->OnCheckAndUpgrade();
    EXPECT_EQ(bench.window.boxes().back().text, "機種不符!! ");
    EXPECT_EQ(bench.window.boxes().back().caption, "Error");
}

TEST(DialogOpenFile, AFileWithoutInfoBlockLeavesNoUsableFile) {
    ImageFiles files;
    const auto path = files.write("plain.bin", std::vector<std::uint8_t>(500, 0x42));
    DialogBench bench;
    bench.start();
    bench.window.file_to_choose = path;
    bench.dialog->OnOpenFile();
    EXPECT_FALSE(bench.window.enabled(app::kIdCheckAndUpgrade, true));
    EXPECT_EQ(bench.window.text_of(app::kIdTextArea), u"");
    EXPECT_EQ(bench.window.text_of(app::kIdPathField), path);
    EXPECT_EQ(bench.dialog->expected_model(), 16);
    EXPECT_TRUE(bench.window.boxes().empty());
}

TEST(DialogOpenFile, APathTooLongForTheNameBufferCountsAsCancelled) {
    DialogBench bench;
    bench.start();
    bench.window.file_to_choose = u"/" + std::u16string(2047, u'a');  // 2,048 with the slash: no room for the zero
    const std::size_t before = bench.window.log_lines().size();
    bench.dialog->OnOpenFile();
    EXPECT_EQ(bench.window.log_lines().size(), before + 1);  // only the chooser
}

#ifdef __linux__
TEST(DialogOpenFile, AReadFailureAfterTheOpenIsReportedNamingTheFile) {
    // Opens as a regular file, but cannot be measured: the read fails after the open.
    const std::u16string path = u"/proc/self/mem";
    DialogBench bench;
    bench.start();
    bench.window.file_to_choose = path;
    bench.dialog->OnCommand(app::kIdOpenFile);
    const auto boxes = bench.window.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("\"/proc/self/mem\""), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].icon, MessageIcon::Stop);
    EXPECT_EQ(boxes[0].caption, "WXR7305_Upgrade_Tool");
    EXPECT_FALSE(bench.window.enabled(app::kIdCheckAndUpgrade, true));
    EXPECT_EQ(bench.dialog->expected_model(), 16);
}
#endif

TEST(DialogOpenFile, FileErrorTextsNameTheFileForEachCause) {
    const std::u16string name = u"D:\\fw\\new.bin";
    for (const auto cause : {std::errc::io_error, std::errc::permission_denied, std::errc::file_too_large,
                             std::errc::no_such_device, std::errc::invalid_argument}) {
        const auto text = to_utf8(app::file_error_text(FileError(std::make_error_code(cause), name)));
        EXPECT_NE(text.find("\"D:\\fw\\new.bin\""), std::string::npos) << text;
    }
    EXPECT_NE(app::file_error_text(FileError(std::make_error_code(std::errc::permission_denied), name)),
              app::file_error_text(FileError(std::make_error_code(std::errc::io_error), name)));
}

}  // namespace
}  // namespace wxr::testing
