// User-select under a running wx application: the "Select Source" dialog,
// driven by a timer that finds it among the top-level windows and answers it
// as a user would. Runs under Xvfb.
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/init.h>
#include <wx/listbox.h>
#include <wx/timer.h>

#include <cstring>
#include <functional>

#include "dsm/SourceSelectDialog.h"
#include "tests/dsm/DsmFixture.h"

namespace {

// Polls for the modal selection dialog, notes what it shows and hands it to `answer`.
class DialogDriver : public wxTimer {
public:
    explicit DialogDriver(std::function<void(wxDialog&, wxListBox&)> answer)
        : m_answer(std::move(answer)) {
        Start(20);
    }

    void Notify() override {
        for (wxWindow* window : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<wxDialog*>(window);
            if (!dialog || dialog->GetName() != SourceSelectDialog::kDialogName ||
                !dialog->IsModal()) {
                continue;
            }
            // dynamic_cast, not wxDynamicCast: the macro's downcast trips UBSan on a
            // window of another type.
            auto* list = dynamic_cast<wxListBox*>(
                wxWindow::FindWindowByName(SourceSelectDialog::kListName, dialog));
            Stop();
            seen = true;
            title = dialog->GetTitle();
            if (!list) {
                dialog->EndModal(wxID_CANCEL);
                return;
            }
            for (wxWindow* child : dialog->GetChildren()) {
                if (child->GetName() == SourceSelectDialog::kNoteName)
                    notes.push_back(child->GetLabel().ToStdString());
            }
            for (unsigned i = 0; i < list->GetCount(); ++i) {
                items.push_back(list->GetString(i).ToStdString());
            }
            if (list->GetSelection() != wxNOT_FOUND) {
                preselected = list->GetString(list->GetSelection()).ToStdString();
            }
            m_answer(*dialog, *list);
            return;
        }
        // A dialog that never shows fails the test; a stuck one is ended above.
        if (++m_ticks > 500) Stop();
    }

    bool seen = false;
    wxString title;
    std::vector<std::string> items;
    std::vector<std::string> notes;  // the libraries' lines under the list
    std::string preselected;

private:
    std::function<void(wxDialog&, wxListBox&)> m_answer;
    int m_ticks = 0;
};

using DsmDialogTest = DsmFixture;

TEST_F(DsmDialogTest, OkReturnsTheChosenSourceAndRemembersIt) {
    OpenDsm();
    DialogDriver driver([](wxDialog& dialog, wxListBox& list) {
        list.SetSelection(list.FindString("Fake Scanner B"));
        dialog.EndModal(wxID_OK);
    });
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_SUCCESS);
    ASSERT_TRUE(driver.seen);
    EXPECT_EQ(driver.title, "Select Source");
    EXPECT_EQ(driver.items, kFakeNames);
    EXPECT_EQ(driver.preselected, "Fake Scanner A");  // the default
    EXPECT_STREQ(identity.ProductName, "Fake Scanner B");
    EXPECT_EQ(identity.Id, Listed("Fake Scanner B").Id);

    const std::optional<std::string> conf = ReadDsmConf();
    ASSERT_TRUE(conf.has_value());
    EXPECT_NE(conf->find("DefaultSource=Fake Scanner B\n"), std::string::npos) << *conf;
    TW_IDENTITY chosenDefault{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &chosenDefault), TWRC_SUCCESS);
    EXPECT_STREQ(chosenDefault.ProductName, "Fake Scanner B");
}

TEST_F(DsmDialogTest, DoubleClickChoosesTheClickedSource) {
    OpenDsm();
    DialogDriver driver([](wxDialog&, wxListBox& list) {
        const int index = list.FindString("Fake Late");
        list.SetSelection(index);
        wxCommandEvent click(wxEVT_LISTBOX_DCLICK, list.GetId());
        click.SetEventObject(&list);
        click.SetInt(index);
        list.GetEventHandler()->ProcessEvent(click);
    });
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_SUCCESS);
    EXPECT_TRUE(driver.seen);
    EXPECT_STREQ(identity.ProductName, "Fake Late");
    EXPECT_NE(ReadDsmConf().value_or("").find("DefaultSource=Fake Late\n"), std::string::npos);
}

TEST_F(DsmDialogTest, CancelReturnsCancelAndChangesNothing) {
    WriteDsmConf("DefaultSource=Fake Single\n");
    OpenDsm();
    DialogDriver driver([](wxDialog& dialog, wxListBox& list) {
        list.SetSelection(list.FindString("Fake Scanner B"));
        dialog.EndModal(wxID_CANCEL);
    });
    TW_IDENTITY identity{};
    std::strcpy(identity.ProductName, "Fake Shadow Only");
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_CANCEL);
    EXPECT_TRUE(driver.seen);
    EXPECT_EQ(driver.preselected, "Fake Shadow Only");  // the identity passed in
    EXPECT_STREQ(identity.ProductName, "Fake Shadow Only");
    EXPECT_EQ(ReadDsmConf(), "DefaultSource=Fake Single\n");
    EXPECT_EQ(Condition(), TWCC_SUCCESS);
}

TEST_F(DsmDialogTest, TheRememberedDefaultIsPreselected) {
    WriteDsmConf("DefaultSource=Fake Single\n");
    OpenDsm();
    DialogDriver driver([](wxDialog& dialog, wxListBox&) { dialog.EndModal(wxID_OK); });
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_SUCCESS);
    EXPECT_EQ(driver.preselected, "Fake Single");
    EXPECT_STREQ(identity.ProductName, "Fake Single");
}

TEST_F(DsmDialogTest, UnattendedShowsNoDialog) {
    SetEnv("VELOMARK_UNATTENDED", "1");
    SetEnv("VELOMARK_DEFAULT_SOURCE", "Fake Late");
    OpenDsm();
    DialogDriver driver([](wxDialog& dialog, wxListBox&) { dialog.EndModal(wxID_CANCEL); });
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_SUCCESS);
    EXPECT_FALSE(driver.seen);
    EXPECT_STREQ(identity.ProductName, "Fake Late");
    EXPECT_FALSE(ReadDsmConf().has_value());
}

TEST_F(DsmDialogTest, TheLibrariesNotesStandUnderTheList) {
    SetEnv("VELOMARK_SOURCE_PATH", FAKE_SOURCE_DIR_NOTES);
    OpenDsm();
    DialogDriver driver([](wxDialog& dialog, wxListBox&) { dialog.EndModal(wxID_CANCEL); });
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_CANCEL);
    ASSERT_TRUE(driver.seen);
    EXPECT_EQ(driver.items, (std::vector<std::string>{"Fake Noted A", "Fake Noted B"}));
    EXPECT_EQ(driver.notes,
              (std::vector<std::string>{"Noted: two scanners found", "Empty: no scanner found"}));
}

TEST_F(DsmDialogTest, WithoutNotesTheDialogShowsNone) {
    OpenDsm();
    DialogDriver driver([](wxDialog& dialog, wxListBox&) { dialog.EndModal(wxID_CANCEL); });
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_CANCEL);
    ASSERT_TRUE(driver.seen);
    EXPECT_TRUE(driver.notes.empty());
}

TEST_F(DsmDialogTest, WithoutSourcesNoDialogIsShown) {
    SetEnv("VELOMARK_SOURCE_PATH", nullptr);
    OpenDsm();
    DialogDriver driver([](wxDialog& dialog, wxListBox&) { dialog.EndModal(wxID_OK); });
    TW_IDENTITY identity{};
    EXPECT_EQ(Dsm(DAT_IDENTITY, MSG_USERSELECT, &identity), TWRC_FAILURE);
    EXPECT_EQ(Condition(), TWCC_NODS);
    EXPECT_FALSE(driver.seen);
}

TEST_F(DsmDialogTest, WaitingForTheListingKeepsTheEventLoopRunning) {
    SetEnv("VELOMARK_SOURCE_PATH", FAKE_SOURCE_DIR_SLOW);
    MessageWindow window;
    m_window = window.Handle();
    OpenDsm();
    bool ranMeanwhile = false;
    wxTheApp->CallAfter([&ranMeanwhile] { ranMeanwhile = true; });
    TW_IDENTITY identity{};
    ASSERT_EQ(Dsm(DAT_IDENTITY, MSG_GETDEFAULT, &identity), TWRC_SUCCESS);
    EXPECT_STREQ(identity.ProductName, "Fake Slow");
    EXPECT_TRUE(ranMeanwhile);
}

}  // namespace
