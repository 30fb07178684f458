// The data source's one export. The manager loads the file to list it (and
// unloads it at once), and again to open it; every call of an application
// arrives here, on that application's thread.
#include <windows.h>

#include "twain/data_source.h"
#include "twain/module_hold.h"
#include "twain/source_cameras.h"
#include "twain/source_identity.h"

namespace snaplark {
namespace {

using namespace twain;

// Only trivially destructible state at file level: a manager may unload the
// file without closing the source, and nothing may then run under the
// loader's lock.
HINSTANCE Module = nullptr;
ManagerLink Manager;
DataSource* Session = nullptr;
TW_UINT16 ClosedCondition = TWCC_SUCCESS;

TwainAnswer OpenSession(const TW_IDENTITY* application, TW_IDENTITY* self) {
  if (Session) return {TWRC_FAILURE, TWCC_MAXCONNECTIONS};
  if (!application || !self) return {TWRC_FAILURE, TWCC_BADVALUE};
  UseSourceCameras();
  // Copies of both identities: the manager's pointers change from call to call.
  auto* session = new DataSource(Module, *self, *application, Manager, SettingsStore());
  if (!session->Start()) {
    delete session;
    return {TWRC_FAILURE, TWCC_BUMMER};
  }
  Session = session;
  return {};
}

TwainAnswer CloseSession() {
  if (!Session) return {TWRC_FAILURE, TWCC_SEQERROR};
  if (Session->Busy()) {
    // Called from inside our own window's loop or news, typically as the
    // manager shuts down: it unloads the file whatever we answer, so the
    // session ends now and is deleted once that code has returned.
    Session->Abandon();
    Session = nullptr;
    return {};
  }
  if (Session->State() != SourceState::Open) return {TWRC_FAILURE, TWCC_SEQERROR};
  delete Session;
  Session = nullptr;
  StayLoadedWhileInUse();
  return {};
}

TwainAnswer AnswerIdentity(const TW_IDENTITY* origin, TW_UINT16 message, TW_MEMREF pData) {
  auto* identity = static_cast<TW_IDENTITY*>(pData);
  switch (message) {
    case MSG_GET:
      if (!identity) return {TWRC_FAILURE, TWCC_BADVALUE};
      *identity = SourceIdentity(identity->Id);
      return {};
    case MSG_OPENDS:
      return OpenSession(origin, identity);
    case MSG_CLOSEDS:
      return CloseSession();
    default:
      return {TWRC_FAILURE, TWCC_BADPROTOCOL};
  }
}

TwainAnswer AnswerEntryPoint(TW_UINT16 message, TW_MEMREF pData) {
  if (message != MSG_SET) return {TWRC_FAILURE, TWCC_BADPROTOCOL};
  if (Session) return {TWRC_FAILURE, TWCC_SEQERROR};
  if (!pData || !Manager.Adopt(*static_cast<const TW_ENTRYPOINT*>(pData))) return {TWRC_FAILURE, TWCC_BADVALUE};
  return {};
}

TW_UINT16 TakeStatus(TW_MEMREF pData) {
  auto* status = static_cast<TW_STATUS*>(pData);
  if (!status) return TWRC_FAILURE;
  status->Data = 0;
  status->ConditionCode = Session ? Session->TakeCondition() : ClosedCondition;
  if (!Session) ClosedCondition = TWCC_SUCCESS;
  return TWRC_SUCCESS;
}

TwainAnswer Dispatch(TW_IDENTITY* origin, TW_UINT32 group, TW_UINT16 data, TW_UINT16 message, TW_MEMREF pData) {
  if (group == DG_CONTROL && data == DAT_IDENTITY) return AnswerIdentity(origin, message, pData);
  if (group == DG_CONTROL && data == DAT_ENTRYPOINT) return AnswerEntryPoint(message, pData);
  if (!Session) return {TWRC_FAILURE, TWCC_SEQERROR};
  return Session->Answer(group, data, message, pData);
}

}  // namespace
}  // namespace snaplark

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // Kept cheap: managers load every source just to read its identity.
  if (reason == DLL_PROCESS_ATTACH) snaplark::Module = instance;
  return TRUE;
}

// Exported by its plain name through the module definition file.
extern "C" twain::TW_UINT16 WINAPI DS_Entry(twain::TW_IDENTITY* origin, twain::TW_UINT32 group, twain::TW_UINT16 data,
                                            twain::TW_UINT16 message, twain::TW_MEMREF pData) {
  using namespace snaplark;
  if (group == twain::DG_CONTROL && data == twain::DAT_STATUS && message == twain::MSG_GET) return TakeStatus(pData);
  const TwainAnswer answer = Dispatch(origin, group, data, message, pData);
  // Asked for by the next DAT_STATUS: the condition of this call, success
  // included; not of the event checks that come with every message of the
  // application's loop, which would wipe out the rest, nor of the request
  // for a condition's text.
  if (group == twain::DG_CONTROL && (data == twain::DAT_EVENT || data == twain::DAT_STATUSUTF8)) {
    return answer.returnCode;
  }
  if (Session) {
    Session->NoteCondition(answer.condition);
  } else {
    ClosedCondition = answer.condition;
  }
  return answer.returnCode;
}
