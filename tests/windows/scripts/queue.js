// The control driven from JScript the way a page script drives it, under
// Wine's cscript, with VintrelTest.Helper in place of the host services
// Wine lacks (WScript.Sleep, WScript.ConnectObject).
//   cscript //nologo queue.js BASE_URL FOLDER PORT TABLE DLL VERSION
// BASE_URL ends with "/"; FOLDER is the Windows path the folder dialog is
// answered with; TABLE lists "name=identifier" pairs of the type library's
// table, separated by ";"; DLL is the registered Vintrel.dll, whose file
// version is VERSION. Prints one "ok - ..." or "not ok - ..." line a check.

var args = WScript.Arguments;
var base = args(0), folder = args(1), port = parseInt(args(2), 10), table = args(3), dll = args(4), version = args(5);

function check(name, ok, detail) {
  WScript.Echo((ok ? "ok - " : "not ok - ") + name + (ok || detail === undefined ? "" : " (" + detail + ")"));
}
// The automation error number script sees: the low word of the HRESULT.
function raises(name, number, body) {
  try {
    body();
    check(name, false, "no error");
  } catch (e) {
    check(name, (e.number & 0xFFFF) == number, "error " + (e.number & 0xFFFF) + ": " + e.description);
  }
}
function lines(text) {
  var all = text.split("\n"), out = [];
  for (var k = 0; k < all.length; ++k) if (all[k] != "") out.push(all[k]);
  return out;
}
// The events of a step with the repeated progress statuses folded, so that
// the order of what happened can be compared whatever the timing.
function steps(text) {
  var all = lines(text), out = [];
  for (var k = 0; k < all.length; ++k)
    if (all[k] != "OnStatusChange(Downloading)" && (out.length == 0 || out[out.length - 1] != all[k])) out.push(all[k]);
  return out.join(" | ");
}

var h = new ActiveXObject("VintrelTest.Helper");
var c = new ActiveXObject("Vintrel.UserControl1");

// --- the surface: identifiers, class, safety -----------------------------
var pairs = table.split(";"), wrong = [];
for (var k = 0; k < pairs.length; ++k) {
  var name = pairs[k].split("=")[0], id = parseInt(pairs[k].split("=")[1], 16);
  var byName = h.DispId(c, name), byType = h.TypeDispId(c, name), otherCase = h.DispId(c, name.toUpperCase());
  if (byName != id || byType != id || otherCase != id) wrong.push(name + " " + byName + "/" + byType + "/" + otherCase);
}
check("every member's identifier, by IDispatch in any case and by the type information, is the table's (" +
      pairs.length + " members)", pairs.length >= 40 && wrong.length == 0, wrong.join(", "));
check("AddFile is 0x60030010 and dChosenPath 0x68030000",
      h.DispId(c, "AddFile") == 0x60030010 && h.DispId(c, "dChosenPath") == 0x68030000);
check("an unknown name has no identifier", h.DispId(c, "NoSuchMember") == -2147352570, h.DispId(c, "NoSuchMember"));
check("the class information names UserControl1", h.ClassName(c) == "UserControl1", h.ClassName(c));
check("the source interface is __UserControl1",
      h.SourceInterface(c) == "{C29C0A3C-49E0-4FEE-8F2F-3F143AD31BEC}", h.SourceInterface(c));
check("the container lists the one connection point, of __UserControl1",
      h.ConnectionPoints(c) == "{C29C0A3C-49E0-4FEE-8F2F-3F143AD31BEC}", h.ConnectionPoints(c));
check("safe for scripting through IDispatch", h.Safety(c, "IDispatch") == "0x00000000 3 1", h.Safety(c, "IDispatch"));
check("safe for initialising through both persistence interfaces",
      h.Safety(c, "IPersistPropertyBag") == "0x00000000 3 2" && h.Safety(c, "IPersistStreamInit") == "0x00000000 3 2",
      h.Safety(c, "IPersistPropertyBag") + " / " + h.Safety(c, "IPersistStreamInit"));
check("no safety answer for another interface", h.Safety(c, "IUnknown") == "0x80004002 3 0", h.Safety(c, "IUnknown"));

// --- persistence of "URL" ------------------------------------------------
var d = new ActiveXObject("Vintrel.UserControl1");
c.URL = "http://127.0.0.1/page.html?q=\u00e9";
check("a written URL makes the control dirty", h.IsDirty(c) == "0x00000000", h.IsDirty(c));
check("the property bag carries URL to another control",
      h.BagRoundTrip(c, d) == "URL=http://127.0.0.1/page.html?q=\u00e9;" && d.URL == c.URL, d.URL);
check("a saved control is clean", h.IsDirty(c) == "0x00000001", h.IsDirty(c));
check("a bag without URL fails with 13 and leaves URL as it was",
      h.LoadEmptyBag(d) == "0x800A000D" && d.URL == c.URL, h.LoadEmptyBag(d) + " " + d.URL);
var e = new ActiveXObject("Vintrel.UserControl1");
c.URL = "http://127.0.0.1/other";
check("a stream carries URL to another control (4 + 22 bytes)",
      h.StreamRoundTrip(c, e) == "26" && e.URL == "http://127.0.0.1/other", h.StreamRoundTrip(c, e) + " " + e.URL);
d = null;
e = null;

// --- errors raised to script with their numbers ---------------------------
raises("a word where CurFile's integer goes raises 13", 13, function () { c.CurFile = "two"; });
raises("a record that does not exist raises 9", 9, function () { c.DownloadFiles(1); });
raises("a member that does not exist raises 438", 438, function () { c.NoSuchMember(); });
raises("a wrong argument count raises 450", 450, function () { c.AddFile(); });
raises("GotoFile past an Integer raises 6", 6, function () { c.GotoFile(40000); });

// What Explorer's properties and installers read of the file.
var fileVersion = new ActiveXObject("Scripting.FileSystemObject").GetFileVersion(dll);
check("the DLL carries its version " + version, fileVersion == version, fileVersion);

// --- a folder answer that cannot be used ----------------------------------
// It is raised, not taken for a cancel that would drop the list.
var u = new ActiveXObject("Vintrel.UserControl1");
u.AddFile(base + "missing.bin");
h.SetVariable("VINTREL_FOLDER_ANSWER", folder + "\\no such folder");
try {
  u.StartQueue();
  check("StartQueue raises 76 for a folder answer naming no folder", false, "no error");
} catch (e) {
  check("StartQueue raises 76 for a folder answer naming no folder, and says which",
        (e.number & 0xFFFF) == 76 && e.description.indexOf("no such folder") >= 0,
        (e.number & 0xFFFF) + ": " + e.description);
}
check("the list stays as it was and no folder is taken", u.numfilesadded == 1 && u.dTotalFiles == 0 && u.dChosenPath == "",
      u.numfilesadded + " " + u.dTotalFiles + " " + u.dChosenPath);
h.SetVariable("VINTREL_FOLDER_ANSWER", folder);
u.StartQueue();
check("the same list starts once the answer names a folder", u.dTotalFiles == 1, u.dTotalFiles);
u.CancelQueue();
u = null;

// --- the queue -----------------------------------------------------------
check("Watch binds to the connection point", h.Watch(c) == "0x00000000");
c.AddFile(base + "one.bin");
c.AddFile(base + "missing.bin");
c.AddFile(base + "two.bin");
c.StartQueue();
check("a control whose container offers no document has no page address nor cookie",
      c.containerURL == "" && c.cookielist == "", c.containerURL + " " + c.cookielist);
check("StartQueue queues three files in the answered folder",
      c.dTotalFiles == 3 && c.dChosenPath.toLowerCase() == folder.toLowerCase(), c.dTotalFiles + " " + c.dChosenPath);
var files = new Enumerator(c.DownloadFiles), names = [];
for (; !files.atEnd(); files.moveNext()) names.push(files.item().localfilename);
check("the records enumerate in order",
      names.join(";").toLowerCase() == (folder + "\\one.bin;" + folder + "\\missing.bin;" + folder + "\\two.bin").toLowerCase(),
      names.join(";"));

// A mirror of the third file, made by ProgID, joins before it starts.
var mirror = new ActiveXObject("Vintrel.remoteServerLoc");
mirror.servName = "127.0.0.1";
mirror.host = "127.0.0.1";
mirror.PortNum = port;
mirror.remoteFilePath = "/mirror/two.bin";
c.DownloadFiles(3).remoteServerLocs.Add(mirror);
check("the mirror is the third file's second server",
      c.DownloadFiles(3).remoteServerLocs.Count == 2 && c.DownloadFiles(3).remoteServerLocs(2).remoteFilePath == "/mirror/two.bin");
raises("a record that is not a server is refused with 13", 13, function () {
  c.DownloadFiles(3).remoteServerLocs.Add(c.DownloadFiles(1));
});

check("the first file completes", h.WaitFor("OnFileComplete(", 30000), h.Events());
var first = steps(h.Events());
check("the first file's events in order", first ==
      "OnStatusChange(Locating File) | OnStatusChange(Determining File Size) | OnStatusChange(Completed Downloading a File) | OnFileComplete(" +
      folder + "\\one.bin)", first);
check("the record holds the length the server sent", c.DownloadFiles(1).contentlength == 65536,
      c.DownloadFiles(1).contentlength);
h.Clear();

c.GotoFile(2);
check("the missing file is not found", h.WaitFor("OnStatusChange(File Not Found)", 30000), h.Events());
check("the missing file's events in order",
      steps(h.Events()) == "OnStatusChange(Locating File) | OnStatusChange(File Not Found)", steps(h.Events()));
check("its error is the server's 404", c.dErrorNumber == "404", c.dErrorNumber + " " + c.dErrorDesc);
h.Clear();

c.GotoFile(3);
check("the third file completes", h.WaitFor("OnFileComplete(", 30000), h.Events());
check("the third file's last event names its file", lines(h.Events()).pop() == "OnFileComplete(" + folder + "\\two.bin)",
      h.Events());
h.Clear();

c.GotoFile(4);
h.WaitFor("OnTransferComplete(", 10000);
check("moving past the last file ends the queue",
      steps(h.Events()) == "OnStatusChange(Completed All Transfers) | OnTransferComplete()", steps(h.Events()));
h.Unwatch();
c = null;

// --- a page around the control ----------------------------------------
var p = new ActiveXObject("Vintrel.UserControl1");
check("a page gives the control its site",
      h.Embed(p, "http://127.0.0.1/downloads.html", "session=42; lang=fr") == "0x00000000");
h.Clear();
h.Watch(p);
p.AddFile(base + "page.bin");
p.StartQueue();
check("StartQueue reads the page's address and cookie from the document",
      p.containerURL == "http://127.0.0.1/downloads.html" && p.cookielist == "session=42; lang=fr",
      p.containerURL + " " + p.cookielist);
check("the request for a page's file is answered", h.WaitFor("OnStatusChange(File Not Found)", 30000), h.Events());
h.Unwatch();
p = null;
WScript.Echo("# end of queue.js");
