// Fetches files one control each and checks how each ends, for the https
// and proxy cases of tests/windows/run.
//   cscript //nologo fetch.js FOLDER CASE...
// CASE is "URL=saved" (the file completes), "URL=NUMBER" (it stops at once
// with dErrorNumber NUMBER, "File Not Found"), or "URL=resumed" (paused once
// its bytes flow, resumed, and completed); "URL|MIRROR=..." gives the file
// a mirror, made by ProgID as a page makes one. Prints one "ok - ..." or
// "not ok - ..." line a case.

var args = WScript.Arguments;
var folder = args(0);
var h = new ActiveXObject("VintrelTest.Helper");

function check(name, ok, detail) {
  WScript.Echo((ok ? "ok - " : "not ok - ") + name + (ok || detail === undefined ? "" : " (" + detail + ")"));
}

for (var k = 1; k < args.length; ++k) {
  var at = args(k).lastIndexOf("="), url = args(k).substring(0, at), want = args(k).substring(at + 1);
  var mirror = url.indexOf("|") < 0 ? "" : url.substring(url.indexOf("|") + 1);
  if (mirror != "") url = url.substring(0, url.indexOf("|"));
  var began = new Date().getTime();
  var c = new ActiveXObject("Vintrel.UserControl1");
  h.Clear();
  h.Watch(c);
  c.AddFile(url);
  c.StartQueue();
  if (mirror != "") {
    // Records exist once the queue has started: the mirror joins, and the
    // file starts again to be probed on both servers.
    var parts = /^(https?):\/\/([^\/:]+):(\d+)(\/.*)$/.exec(mirror), m = new ActiveXObject("Vintrel.remoteServerLoc");
    m.servName = parts[2];
    m.host = parts[2] + ":" + parts[3];
    m.PortNum = parseInt(parts[3], 10);
    m.remoteFilePath = parts[4];
    m.isSecure = parts[1] == "https";
    c.DownloadFiles(1).remoteServerLocs.Add(m);
    c.GotoFile(1);
  }
  var detail = "";
  if (want == "resumed") {
    // Paused once some of the body is on disk, so that there is a part to
    // resume whatever the machine's speed.
    var flowing = h.WaitFor("OnStatusChange(Downloading)", 30000), fs = new ActiveXObject("Scripting.FileSystemObject");
    for (var waited = 0; flowing && waited < 30000; waited += 50) {
      var part = c.DownloadFiles(1).localfilename;
      if (fs.FileExists(part) && fs.GetFile(part).Size > 0) break;
      h.Wait(50);
    }
    c.PauseQueue();
    detail = h.Events();
    h.Clear();
    c.ResumeQueue();
    check(url + " is paused once its bytes flow, then resumed to its end",
          flowing && h.WaitFor("OnFileComplete(", 60000), detail + " / " + h.Events() + " / " + c.dErrorDesc);
  } else if (want == "saved") {
    check(url + " is saved", h.WaitFor("OnFileComplete(", 60000), h.Events() + " / " + c.dErrorDesc);
  } else {
    var stopped = h.WaitFor("OnStatusChange(File Not Found)", 60000);
    check(url + " stops at once with " + want, stopped && c.dErrorNumber == want && h.Events().indexOf("try 2") < 0,
          c.dErrorNumber + " " + c.dErrorDesc + " / " + h.Events());
    WScript.Echo("# " + c.dErrorNumber + ": " + c.dErrorDesc);
  }
  h.Unwatch();
  c = null;
  WScript.Echo("# " + url + " took " + (new Date().getTime() - began) + " ms");
}
WScript.Echo("# end of fetch.js");
