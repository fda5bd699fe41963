' The control driven from VBScript under Wine's cscript, with
' VintrelTest.Helper in place of WScript.Sleep and of the event prefix of
' WScript.CreateObject, which Wine's host lacks.
'   cscript //nologo queue.vbs BASE_URL FOLDER
' Prints one "ok - ..." or "not ok - ..." line a check.
Option Explicit

Dim base, folder, h, c, f, names, value, events
base = WScript.Arguments(0)
folder = WScript.Arguments(1)

Sub Check(name, ok, detail)
  If ok Then
    WScript.Echo "ok - " & name
  Else
    WScript.Echo "not ok - " & name & " (" & detail & ")"
  End If
End Sub

' The number script sees after a statement that should fail.
Sub Raised(name, number)
  Check name, Err.Number = number, "error " & Err.Number & ": " & Err.Description
  Err.Clear
End Sub

Set h = CreateObject("VintrelTest.Helper")
' The host's CreateObject: Wine's own VBScript CreateObject cannot give an
' object with IObjectWithSite a site under cscript (it fails with 429).
Set c = WScript.CreateObject("Vintrel.UserControl1")
Set f = CreateObject("Vintrel.remoteServerLoc")
f.PortNum = 8080
Check "a remoteServerLoc is made by ProgID", f.PortNum = 8080 And TypeName(f.PortNum) = "Long", TypeName(f.PortNum)

On Error Resume Next
c.CurFile = "two"
Raised "a word where CurFile's integer goes raises 13", 13
Set f = c.DownloadFiles(5)
Raised "a record that does not exist raises 9", 9
c.NoSuchMember 1
Raised "a member that does not exist raises 438", 438
' Another control: the queue below starts from the current file.
Dim d
Set d = WScript.CreateObject("Vintrel.UserControl1")
d.CurFile = 7
Check "CurFile takes a number", Err.Number = 0 And d.CurFile = 7, Err.Description
Check "CurFile reads back as an Integer", TypeName(d.CurFile) = "Integer", TypeName(d.CurFile)
Set d = Nothing
On Error GoTo 0

value = "two.bin?x=1"
Check "DeQuery takes its argument by reference", c.DeQuery(value) = "two.bin" And value = "two.bin?x=1", value
' Wine's VBScript has no LenB, nor UBound of a byte array: the kind is
' what can be checked here.
Check "str2bin gives a byte array", VarType(c.str2bin("ab")) = vbArray + vbByte, VarType(c.str2bin("ab"))

Check "Watch binds to the connection point", h.Watch(c) = "0x00000000", ""
c.AddFile base & "one.bin"
c.StartQueue
names = ""
For Each f In c.DownloadFiles
  names = names & f.localfilename & ";"
Next
Check "For Each walks the records", LCase(names) = LCase(folder & "\one.bin;"), names
Check "the file completes", h.WaitFor("OnFileComplete(", 30000), h.Events
events = h.Events
Check "its first event is Locating File", h.Event(1) = "OnStatusChange(Locating File)", events
Check "its last event names the file", h.Event(h.EventCount) = "OnFileComplete(" & folder & "\one.bin)", events
Check "the record's length is the file's", c.DownloadFiles(1).contentlength = 65536, c.DownloadFiles(1).contentlength
h.Clear
c.GotoFile 2
Check "the queue ends", h.WaitFor("OnTransferComplete(", 10000), h.Events
h.Unwatch

' The last reference to a control goes inside one of its own events: the
' helper's connection is all that holds it when the file completes, and the
' helper lets go there. The control ends once the event is over, and the
' thread's next control works as the first did.
Set c = Nothing
Set c = WScript.CreateObject("Vintrel.UserControl1")
h.Clear
Check "Watch binds to a second control", h.Watch(c) = "0x00000000", ""
h.UnwatchOn "OnFileComplete("
c.AddFile base & "two.bin"
c.StartQueue
Set c = Nothing
Check "the file completes with only the listener holding the control", h.WaitFor("OnFileComplete(", 30000), h.Events
h.Wait 300
Set c = WScript.CreateObject("Vintrel.UserControl1")
c.AddFile base & "one.bin"
Check "a control made after it works", c.numfilesadded = 1, c.numfilesadded
WScript.Echo "# end of queue.vbs"
