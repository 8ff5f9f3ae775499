<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>lumet::CLumetDlg</name>
    <message>
        <source>Show Reference</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Register Frames</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reconstruct</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset Parameters…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show frame 0 in the Reference viewer, where a click or a drag places the region of interest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show frame 0 again, then find how each frame 1 .. N lies against it (writes one homography file each)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Combine the registered frames into the enlarged result of the region of interest (writes the result file)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Put every parameter back to its default, after saying what changes (Ctrl+Z undoes it)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame files</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames after 0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Camera blur</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>First frame</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decay α</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Edges β</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Smooth λ</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>x</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>y</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>w</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>h</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Smoothing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RANSAC</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>/</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Block size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search range</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Iterations</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tolerance</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PSF check</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Method</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reconstruction</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Registration</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>How many frames follow frame 0, the reference: frames 1 .. N. The log counts frame 0 too (N + 1 frames).
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Region (ROI)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Scale factor</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop the running command (Esc)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 method</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The ROI was moved to %1 to stay on the %2 × %3 frame</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;About Lumet…</source>
        <translation>Lumet のﾊﾞｰｼﾞｮﾝ情報(&amp;A)...</translation>
    </message>
    <message>
        <source>Region (ROI) %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RANSAC sample size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RANSAC pool size</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>lumet::CVersionInfoDlg</name>
    <message>
        <source>About Lumet</source>
        <translation>Lumetのﾊﾞｰｼﾞｮﾝ情報</translation>
    </message>
    <message>
        <source>Lumet Version %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>lumet::FieldHelp</name>
    <message>
        <source>left edge x</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>top edge y</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>width w</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>height h</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>pairs per trial (U)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>pool of best pairs (N)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Range: %1. Default: %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>In param.txt: %1; on the command line: %2.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>lumet::MainWindow</name>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Open Frames…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Frames</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames and videos (*.bmp *.png *.jpg *.jpeg *.tif *.tiff *.mp4 *.m4v *.mov *.avi *.mkv *.webm *.mpg *.mpeg);;All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open a frame file or a video; its folder becomes the working folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open &amp;Folder…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open &amp;Recent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Save Result As…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Result As</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save the result shown on the right of the comparison</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Undone: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Redo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Redone: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom &amp;In</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom &amp;Out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Actual Size (100 %)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Fit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Commands</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Commands</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show Reference</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Run (Register, then Reconstruct)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Register the frames, then reconstruct, with the values shown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Cancel the Running Command</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom +</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom −</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>100 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;About Lumet…</source>
        <translation>Lumet のﾊﾞｰｼﾞｮﾝ情報(&amp;A)...</translation>
    </message>
    <message>
        <source>Choose the working folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A command is running: cancel it or let it end before opening %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 does not exist</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: a video&apos;s name cannot hold &quot;%&quot;; rename it first</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 has no frame number in its name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 cannot be written to; nothing was opened</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot work in %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Working folder: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Working folder: %1, reading the frames in %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder Cannot Be Written To</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 cannot be written to.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>param.txt, the homographies and the results need a folder of their own; the frames are still read from %1.

Keep them in %2?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use This Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose Another…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder for the Results</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error: %1 cannot hold the results either; nothing was opened</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;Register Frames&lt;/b&gt;: &lt;tt&gt;MAE(k) = a-&amp;gt;b&lt;/tt&gt; is frame k&apos;s mean absolute difference from frame 0 in green (0 to 255) inside the region of interest, after the homography search (a) and after its refinement (b); lower is better.&lt;/p&gt;&lt;p&gt;&lt;b&gt;Reconstruct&lt;/b&gt;: &lt;tt&gt;MAE(k) = e&lt;/tt&gt; is frame k&apos;s mean absolute green difference from frame 0 on the high-resolution grid. &lt;tt&gt;Threshold(k/N) = v&lt;/tt&gt;: v is the error at place k (counted from 0) of the N errors sorted ascending; frames are used in order up to the first whose error is above v.&lt;/p&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parameters reset to their defaults: Edit &gt; Undo (Ctrl+Z) brings them back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Undo %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Redo %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset Parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Put every parameter back to its default? This changes:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>

Edit &gt; Undo (Ctrl+Z) brings the values back.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>(none)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear Menu</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancelled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 done: Run %2, kept as %3. Wrote %4</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 done. Wrote %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 cancelled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PNG (*.png);;BMP (*.bmp);;JPEG (*.jpg *.jpeg);;TIFF (*.tif *.tiff)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There is no result to save yet: run Reconstruction first</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Picture As</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: the picture format &quot;%2&quot; is not known</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Saved %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No working folder yet.

Choose one with File &gt; Open Frames… or Open Folder…, or drop a folder, a frame file or a video here.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reference</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0 shows here: click to place the region of interest, drag its edges to resize it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The frames show here; the slider goes through them.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Reference Viewer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Frames Viewer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The frame shown in this viewer (0 is the reference)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Before (left of the wipe): frame 0 on the result&apos;s grid, or any run kept</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>After (right of the wipe): any run kept in this folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Before</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>After</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wipe</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Side by side</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Difference</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Wipe: drag the line between the two. Side by side: the same part of both. Difference: |before − after| × %1 per channel.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Flip</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hold to see the before picture whole, in place (or click the picture and hold F)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0 cannot be shown: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The region of interest is placed on frame 0: move it in the Reference viewer, or show frame 0 here</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No picture yet.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run %1 (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 and %2 have the same parameters.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 → %2 differ in %3.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Both resampled onto the ×%1 grid of ROI %2,%3 %4×%5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1, which holds both ROIs; where one does not reach, its side is empty.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Compare: %1 | %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0: click or drag to place the region of interest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0: the frames are registered against it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames being registered</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reconstructing…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0 enlarged (before)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reconstruction cancelled: what it had reached</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames: registered against frame 0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames: registration stopped</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Result: reconstruction stopped</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0 enlarged (before): reconstruction stopped</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>x %1, y %2: %3, %4, %5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Picture pixel under the pointer and its red, green and blue values</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom %1 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Registration</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reconstruction</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame super-resolution</source>
        <translation>ﾌﾚｰﾑの超解像</translation>
    </message>
    <message>
        <source>Super-resolve &amp;This Frame</source>
        <translation>このﾌﾚｰﾑを超解像(&amp;T)</translation>
    </message>
    <message>
        <source>Run Frame</source>
        <translation>ﾌﾚｰﾑ実行</translation>
    </message>
    <message>
        <source>Reconstruct the frame the Frames viewer shows as the reference of the frames within Window ± of it, with the values shown</source>
        <translation>表示中の値で、ﾌﾚｰﾑ ﾋﾞｭｰｱのﾌﾚｰﾑを基準に、その前後 ± 以内のﾌﾚｰﾑから再構成します</translation>
    </message>
    <message>
        <source>Window ±</source>
        <translation>前後 ±</translation>
    </message>
    <message>
        <source>Super-resolve This Frame uses the frames this many before and after the frame shown (fewer at the ends of the sequence)</source>
        <translation>「このﾌﾚｰﾑを超解像」は表示中のﾌﾚｰﾑの前後この枚数のﾌﾚｰﾑを使います (ｼｰｹﾝｽの端では少なくなります)</translation>
    </message>
    <message>
        <source>Super-resolve</source>
        <translation>超解像</translation>
    </message>
    <message>
        <source>Frame %1 (before)</source>
        <translation>ﾌﾚｰﾑ %1 (処理前)</translation>
    </message>
    <message>
        <source>Frame %1 cannot be read now: the wipe shows %2 on both sides.</source>
        <translation>ﾌﾚｰﾑ %1 を今は読めません: ﾜｲﾌﾟの両側に %2 を表示します。</translation>
    </message>
    <message>
        <source>reference: %1 → %2</source>
        <translation>基準: %1 → %2</translation>
    </message>
    <message>
        <source>Before: frame %1</source>
        <translation>処理前: ﾌﾚｰﾑ %1</translation>
    </message>
    <message>
        <source>frame %1 on the result&apos;s grid</source>
        <translation>結果の格子上のﾌﾚｰﾑ %1</translation>
    </message>
    <message>
        <source>Reconstructing frame %1…</source>
        <translation>ﾌﾚｰﾑ %1 を再構成中…</translation>
    </message>
    <message>
        <source>Frame %1 enlarged (before)</source>
        <translation>ﾌﾚｰﾑ %1 の拡大 (処理前)</translation>
    </message>
    <message>
        <source>Frame %1 enlarged (before): reconstruction stopped</source>
        <translation>ﾌﾚｰﾑ %1 の拡大 (処理前): 再構成は止まりました</translation>
    </message>
    <message>
        <source>Video export</source>
        <translation>ﾋﾞﾃﾞｵの書き出し</translation>
    </message>
    <message>
        <source>Export &amp;Video…</source>
        <translation>ﾋﾞﾃﾞｵを書き出す(&amp;V)…</translation>
    </message>
    <message>
        <source>Super-resolve every frame of the sequence from the frames within Window ± of it, into a video or numbered frames</source>
        <translation>ｼｰｹﾝｽのすべてのﾌﾚｰﾑを前後 Window ± 以内のﾌﾚｰﾑから超解像し、ﾋﾞﾃﾞｵか連番ﾌﾚｰﾑに書き出します</translation>
    </message>
    <message>
        <source>Export Video</source>
        <translation>ﾋﾞﾃﾞｵの書き出し</translation>
    </message>
    <message>
        <source>Lossless video (*.mkv);;H.264 video (*.mp4);;Numbered PNG frames (*.png);;Numbered BMP frames (*.bmp)</source>
        <translation>可逆ﾋﾞﾃﾞｵ (*.mkv);;H.264 ﾋﾞﾃﾞｵ (*.mp4);;連番 PNG ﾌﾚｰﾑ (*.png);;連番 BMP ﾌﾚｰﾑ (*.bmp)</translation>
    </message>
    <message>
        <source>What should each output frame show?</source>
        <translation>出力の各ﾌﾚｰﾑに何を写しますか?</translation>
    </message>
    <message>
        <source>The ROI (%1, %2, %3 × %4)</source>
        <translation>ROI (%1, %2, %3 × %4)</translation>
    </message>
    <message>
        <source>The Whole Frame</source>
        <translation>ﾌﾚｰﾑ全体</translation>
    </message>
</context>
<context>
    <name>lumet::ParamFieldValidator</name>
    <message>
        <source>a whole number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>a number</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is empty: type %2, %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2 is out of range (allowed: %3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: &quot;%2&quot; is not %3 (allowed: %4)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>lumet::ParamHistory</name>
    <message>
        <source>Init params</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ROI placement</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ROI change</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>scale change</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>edit</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>lumet::RunResult</name>
    <message>
        <source>Run %1: %2 ×%3, ROI %4,%5 %6×%7</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run %1: %2 ×%3, frame %4 ±%5, ROI %6,%7 %8×%9</source>
        <translation>実行 %1: %2 ×%3, ﾌﾚｰﾑ %4 ±%5, ROI %6,%7 %8×%9</translation>
    </message>
    <message>
        <source>frame %1 ±%2</source>
        <translation>ﾌﾚｰﾑ %1 ±%2</translation>
    </message>
    <message>
        <source>frame %1</source>
        <translation>ﾌﾚｰﾑ %1</translation>
    </message>
</context>
<context>
    <name>lumet::ViewerPane</name>
    <message>
        <source>Before</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>After</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No picture yet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (held)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>|%1 − %2| × %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom In</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom Out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Actual Size (100 %)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Result As…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Picture As…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>lumet::ViewerTitles</name>
    <message>
        <source>Reconstructing (%1): %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0: click or drag to place the region of interest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Result</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frame 0 enlarged (before)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Frames being registered</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Registering %1 against frame 0</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
