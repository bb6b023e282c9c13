' A scripting client of hidbridge with no scanner attached. Exits 1 when a
' check failed.
Option Explicit
Dim failures, port, found, feature, timeout, data
failures = 0

Sub Check(ok, what)
    If ok Then
        WScript.Echo "ok: " & what
    Else
        WScript.Echo "FAILED: " & what
        failures = failures + 1
    End If
End Sub

Set port = CreateObject("hidbridge.HidPort")
found = port.FindTheHid()
Check found = False, "FindTheHid answers False"

On Error Resume Next
feature = port.GetFeature()
Check Err.Number <> 0, "GetFeature fails"
Check Len(Err.Description) > 0, "the error has a description: " & Err.Description
Err.Clear
On Error GoTo 0

timeout = 0
data = port.ReadData(timeout)
Check data = "", "ReadData returns the empty text"
Check timeout = 0, "ReadData leaves its argument alone"

Set port = Nothing
WScript.Quit failures
