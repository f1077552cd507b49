// One block per panel: each button makes its call through the panel's call(), and the answer's
// handler shows what the call produced. The argument lists read as the calls themselves: KEY is
// qtKey(), CALLBACK a one-shot callback, PERSISTENT one that stays, ID the callback id.
(function () {
    'use strict';

    var S = window.showcase;
    var KEY = S.KEY, CALLBACK = S.CALLBACK, PERSISTENT = S.PERSISTENT, ID = S.ID;
    var value = S.value, number = S.number;

    function on(id, handler) { S.byId(id).onclick = handler; }

    // The usual answer is (callbackId, success, errorCode, message, values...).
    function ok(answer) { return answer[1] === true; }
    function failure(answer) { return 'Failed with ' + answer[2] + ': ' + answer[3]; }
    function values(answer) { return answer.slice(4); }

    function showListing(panel, answer) {
        if (!ok(answer)) return panel.show(failure(answer));
        panel.show(answer[3] + ' holds ' + values(answer).length + ' entries:\n'
                   + values(answer).join('\n'));
    }

    // ---- Files and folders ----
    var files = S.panel('files');

    on('files-write', function () {
        var path = value('files-path'), text = value('files-text');
        files.call('writeFile', [KEY, CALLBACK, ID, path, text], function (answer) {
            files.show(ok(answer) ? 'Wrote ' + text.length + ' characters to ' + path
                                  : failure(answer));
        });
    });
    on('files-read', function () {
        var path = value('files-path');
        files.call('readFile', [KEY, CALLBACK, ID, path], function (answer) {
            files.show(ok(answer) ? 'Read back from ' + path + ':\n' + answer[3] : failure(answer));
        });
    });
    on('files-move', function () {
        var from = value('files-path'), to = value('files-target');
        files.call('moveFile', [KEY, CALLBACK, ID, from, to], function (answer) {
            if (!ok(answer)) return files.show(failure(answer));
            // The file lives at its new place now; the next read or delete should go there.
            S.byId('files-path').value = to;
            S.byId('files-target').value = from;
            files.show('Moved ' + from + '\nto    ' + to);
        });
    });
    on('files-delete', function () {
        var path = value('files-path');
        files.call('deleteFile', [KEY, CALLBACK, ID, path], function (answer) {
            files.show(ok(answer) ? 'Deleted ' + path : failure(answer));
        });
    });
    on('files-list', function () {
        // Filter 0 lists files and folders; true walks down into the subfolders.
        files.call('readDirectory', [KEY, CALLBACK, ID, value('files-folder'), 0, true],
                   function (answer) { showListing(files, answer); });
    });
    on('files-mkdir', function () {
        files.call('makeDirectory', [KEY, CALLBACK, ID, value('files-folder')], function (answer) {
            files.show(ok(answer) ? 'Created ' + answer[3] : failure(answer));
        });
    });
    on('files-rmdir', function () {
        var args = [KEY, CALLBACK, ID, value('files-folder')];
        files.call('removeDirectory', args, function (answer) {
            files.show(ok(answer) ? 'Removed ' + answer[3] + ' and all it held' : failure(answer));
        });
    });
    on('files-browse', function () {
        // Mode 1 asks for one existing file; cancelling answers failure 0.
        var args = [KEY, CALLBACK, ID, 1, 'Pick a text file', value('files-folder'),
                    'Text files (*.txt)'];
        files.call('browseForPath', args, function (answer) {
            files.show(ok(answer) ? 'Chosen: ' + answer[3] : 'No file chosen.');
        });
    });
    on('files-export', function () {
        var args = [KEY, CALLBACK, ID, 'showcase-note.txt', value('files-text'), false, 'txt'];
        files.call('exportFile', args, function (answer) {
            files.show(ok(answer) ? 'Handed showcase-note.txt to the desktop\'s text program.'
                                  : failure(answer));
        });
    });

    // ---- Zip archives ----
    var zip = S.panel('zip');

    on('zip-sample', function () {
        var folder = value('zip-source');
        var samples = { 'a.txt': 'First sample file', 'b.txt': 'Second sample file',
                        'notes/c.txt': 'A file in a subfolder' };
        var names = Object.keys(samples), written = 0;
        zip.show('');
        names.forEach(function (name) {
            var args = [KEY, CALLBACK, ID, folder + name, samples[name]];
            zip.call('writeFile', args, function (answer) {
                zip.append((ok(answer) ? 'Wrote ' + folder + name : failure(answer)) + '\n');
                if (++written === names.length) zip.append('Sample folder ready.');
            });
        });
    });
    on('zip-appendall', function () {
        // false: entry names start below the folder, without the folder's own name.
        var archive = value('zip-archive');
        zip.call('zipAppendAll', [KEY, CALLBACK, ID, archive, value('zip-source'), false],
                 function (answer) {
                     zip.show(ok(answer) ? 'Added the folder to ' + archive : failure(answer));
                 });
    });
    on('zip-append', function () {
        var args = [KEY, CALLBACK, ID, value('zip-archive'), S.list('zip-files'),
                    S.list('zip-entries')];
        zip.call('zipAppend', args, function (answer) {
            zip.show(ok(answer) ? 'Added the files to ' + value('zip-archive') : failure(answer));
        });
    });
    on('zip-read', function () {
        zip.call('zipRead', [KEY, CALLBACK, ID, value('zip-archive')], function (answer) {
            showListing(zip, answer);
        });
    });
    on('zip-extractall', function () {
        var target = value('zip-target');
        zip.call('zipExtractAll', [KEY, CALLBACK, ID, value('zip-archive'), target],
                 function (answer) {
                     zip.show(ok(answer) ? 'Extracted into ' + target : failure(answer));
                 });
    });
    on('zip-listtarget', function () {
        zip.call('readDirectory', [KEY, CALLBACK, ID, value('zip-target'), 0, true],
                 function (answer) { showListing(zip, answer); });
    });

    // ---- Cipher ----
    var cipher = S.panel('cipher');

    function encrypt(then) {
        var args = [KEY, CALLBACK, ID, value('cipher-text'), number('cipher-key')];
        cipher.call('encrypt', args, function (answer) {
            if (!ok(answer)) return cipher.show(failure(answer));
            S.byId('cipher-cipher').value = answer[3];
            then(answer[3]);
        });
    }
    function decrypt(cipherText, then) {
        var args = [KEY, CALLBACK, ID, cipherText, number('cipher-key')];
        cipher.call('decrypt', args, function (answer) {
            if (!ok(answer)) return cipher.show(failure(answer));
            // An empty text means the cipher text does not decipher with this key.
            then(answer[3]);
        });
    }
    on('cipher-encrypt', function () {
        encrypt(function (cipherText) { cipher.show('Cipher text:\n' + cipherText); });
    });
    on('cipher-decrypt', function () {
        decrypt(value('cipher-cipher'), function (text) {
            cipher.show(text ? 'Clear text:\n' + text
                             : 'The text does not decipher with key ' + number('cipher-key') + '.');
        });
    });
    on('cipher-roundtrip', function () {
        var original = value('cipher-text');
        encrypt(function (cipherText) {
            decrypt(cipherText, function (text) {
                cipher.show('Clear text:  ' + original + '\nCipher text: ' + cipherText
                            + '\nDeciphered:  ' + text + '\n'
                            + (text === original ? 'Round trip: the same text came back.'
                                                 : 'Round trip: the text came back changed!'));
            });
        });
    });
    on('cipher-writefile', function () {
        // The file calls take the cipher key before the data.
        var path = value('cipher-file');
        var args = [KEY, CALLBACK, ID, path, number('cipher-key'), value('cipher-text')];
        cipher.call('writeEncryptedFile', args, function (answer) {
            cipher.show(ok(answer) ? 'Wrote ' + path + ' enciphered.' : failure(answer));
        });
    });
    on('cipher-readfile', function () {
        var path = value('cipher-file');
        cipher.call('readEncryptedFile', [KEY, CALLBACK, ID, path, number('cipher-key')],
                    function (answer) {
                        cipher.show(ok(answer) ? 'Deciphered from ' + path + ':\n' + answer[3]
                                               : failure(answer));
                    });
    });

    // ---- PDF documents ----
    var docs = S.panel('pdf');
    var lastPdf = null; // the last PDF the shell made: { name, base64 }

    // Page objects are plain dictionaries even in a compressed PDF, so counting them in the
    // bytes gives the page count without a PDF library.
    function pageCount(bytes) {
        return (bytes.match(/\/Type\s*\/Page(?![a-zA-Z])/g) || []).length;
    }

    on('pdf-make', function () {
        docs.call('vellumDocToPdf', [KEY, CALLBACK, ID, value('pdf-xml'), value('pdf-name')],
                  function (answer) {
                      if (!ok(answer)) return docs.show(failure(answer));
                      // A delivered file's values: name, Base64 content, "1" (binary), extension.
                      lastPdf = { name: answer[4], base64: answer[5] };
                      var bytes = atob(lastPdf.base64);
                      docs.show(lastPdf.name + ': ' + bytes.length + ' bytes, ' + pageCount(bytes)
                                + ' pages');
                  });
    });
    on('pdf-save', function () {
        if (!lastPdf) return docs.show('Make the PDF first.');
        var path = value('pdf-path');
        docs.call('writeBinaryFile', [KEY, CALLBACK, ID, path, lastPdf.base64], function (answer) {
            docs.append(ok(answer) ? '\nSaved as ' + path : '\n' + failure(answer));
        });
    });
    on('pdf-open', function () {
        if (!lastPdf) return docs.show('Make the PDF first.');
        var args = [KEY, CALLBACK, ID, lastPdf.name, lastPdf.base64, true, 'pdf'];
        docs.call('exportFile', args, function (answer) {
            docs.append(ok(answer) ? '\nOpened ' + lastPdf.name + ' with the desktop\'s PDF viewer.'
                                   : '\n' + failure(answer));
        });
    });

    // ---- Fetch and downloads ----
    var net = S.panel('fetch');

    function showFetched(text) {
        net.show(text.length > 2000 ? text.substring(0, 2000) + '\n\u2026' : text);
    }
    // A download answers (success, path); the page reads the saved file back to show it.
    function onDownloaded(answer) {
        if (!answer[0]) return net.show('The download failed.');
        var path = answer[1];
        net.call('readFile', [KEY, CALLBACK, ID, path], function (read) {
            showFetched(ok(read) ? 'Saved as ' + path + ':\n' + read[3] : failure(read));
        });
    }
    on('fetch-source', function () {
        var url = value('fetch-url');
        net.call('fetchSource', [KEY, CALLBACK, ID, url], function (answer) {
            showFetched(ok(answer) ? 'Fetched ' + url + ':\n' + answer[3] : failure(answer));
        });
    });
    on('fetch-downloadex', function () {
        // Silent, no overwrite prompt, no save dialog: into the folder, under the name given.
        net.call('downloadEx', [KEY, value('fetch-url'), true, false, false, value('fetch-folder'),
                                value('fetch-name'), CALLBACK], onDownloaded);
    });
    on('fetch-silent', function () {
        net.call('downloadSilent', [KEY, value('fetch-url'), CALLBACK], onDownloaded);
    });
    on('fetch-download', function () {
        net.call('download', [KEY, value('fetch-url'), CALLBACK], onDownloaded);
    });
    on('fetch-verify', function () {
        var host = value('fetch-host');
        net.call('verifySSL', [KEY, CALLBACK, ID, host], function (answer) {
            net.show(ok(answer) ? host + ' answers with a certificate this computer trusts.'
                                : failure(answer));
        });
    });

    // ---- UDP listening ----
    var udp = S.panel('udp');
    var datagramCallback = null;

    on('udp-listen', function () {
        var port = number('udp-port');
        udp.show('Listening on port ' + port + '...\n');
        var name = udp.call('udpListen', [KEY, PERSISTENT, ID, port], function (answer) {
            if (ok(answer)) return udp.append('Datagram: ' + answer[3] + '\n');
            // A refused listen never answers again: let go of its callback.
            qtCallbackCancel(name);
            if (name === datagramCallback) datagramCallback = null;
            udp.append(failure(answer) + '\n');
        });
        if (!datagramCallback) datagramCallback = name;
    });
    on('udp-stop', function () {
        udp.call('udpStop', [KEY, CALLBACK, ID], function (answer) {
            if (!ok(answer)) return udp.append(failure(answer) + '\n');
            if (datagramCallback) qtCallbackCancel(datagramCallback);
            datagramCallback = null;
            udp.append('Stopped listening.\n');
        });
    });

    // ---- Popups and video ----
    var popups = S.panel('popups');
    var hearingPosts = false;

    function listenForPosts() {
        hearingPosts = true;
        popups.call('onPopupPostReceived', [KEY, PERSISTENT, ID], function (answer) {
            // (id, true, 0, source, 'eventId', eventId, name, value, ...), names in order.
            var fields = [];
            for (var i = 6; i + 1 < answer.length; i += 2)
                fields.push(answer[i] + ' = ' + answer[i + 1]);
            popups.show('Post from ' + answer[3] + '\nevent: ' + answer[5] + '\n'
                        + fields.join('\n'));
        });
    }
    function showDone(what) {
        return function (answer) { popups.show(ok(answer) ? what : failure(answer)); };
    }
    on('popups-listen', listenForPosts);
    on('popups-open', function () {
        // A popup's posts need a listener before the popup can send any.
        if (!hearingPosts) listenForPosts();
        popups.call('openPopup', [KEY, CALLBACK, ID, value('popups-url'), number('popups-width'),
                                  number('popups-height'), number('popups-position')],
                    showDone('Popup open. Send something from it.'));
    });
    on('popups-full', function () {
        if (!hearingPosts) listenForPosts();
        popups.call('openPopupFullScreen', [KEY, CALLBACK, ID, value('popups-url')],
                    showDone('Full-screen popup open; its close button hides while the pointer '
                             + 'is away.'));
    });
    on('popups-setsource', function () {
        // Relative addresses in the source are taken from this page's folder.
        var base = document.location.href.replace(/[^\/]*$/, '');
        popups.call('setPopupSource', [KEY, CALLBACK, ID, value('popups-source'), base],
                    showDone('The popup shows the source now.'));
    });
    on('popups-inject', function () {
        popups.call('injectJsIntoPopUp', [KEY, CALLBACK, ID, value('popups-script'), true],
                    showDone('Script run in the popup and its frames.'));
    });
    on('popups-close', function () {
        popups.call('closePopup', [KEY, CALLBACK, ID], showDone('Popup closed.'));
    });
    on('popups-play', function () {
        popups.call('playYouTubeVideo', [KEY, CALLBACK, ID, value('popups-video'),
                                         number('popups-width'), number('popups-height'),
                                         number('popups-position')],
                    showDone('Video playing.'));
    });
    on('popups-playfull', function () {
        popups.call('playYouTubeVideoFullScreen', [KEY, CALLBACK, ID, value('popups-video')],
                    showDone('Video playing full screen.'));
    });
    on('popups-stop', function () {
        popups.call('stopVideo', [KEY, CALLBACK, ID], showDone('Video stopped.'));
    });

    // ---- Clipboard and system ----
    var system = S.panel('system');

    on('system-about', function () {
        var names = ['unknown', 'Windows', 'macOS', 'Linux', 'iOS', 'Android'];
        system.show('platform():              ' + platform() + ' (' + names[platform()] + ')'
                    + '\nplatformVersionName():   ' + platformVersionName()
                    + '\nplatformVersionNumber(): ' + platformVersionNumber()
                    + '\nwebView():               ' + webView()
                    + (webView() === QT_WEBVIEW ? ' (QT_WEBVIEW)' : '')
                    + '\nframeId():               ' + frameId()
                    + '\nqtTempDirPath():         ' + qtTempDirPath()
                    + '\nqtStorageDirPath():      ' + qtStorageDirPath()
                    + '\nqtUserDocsDirPath():     ' + qtUserDocsDirPath()
                    + '\nqtUserDesktopDirPath():  ' + qtUserDesktopDirPath()
                    + '\nqtLogFilePath():         ' + qtLogFilePath());
    });
    on('system-setclip', function () {
        system.call('setClipboard', [KEY, value('system-clip')]);
        system.show('The clipboard holds: ' + value('system-clip'));
    });
    on('system-clearclip', function () {
        system.call('clearClipboard', [KEY]);
        system.show('The clipboard is empty.');
    });
    on('system-clipoff', function () {
        system.call('setClipboardEnabled', [KEY, CALLBACK, ID, false], function (answer) {
            system.show(ok(answer) ? 'Ctrl+X, Ctrl+C, Ctrl+V and the context menu are off.'
                                   : failure(answer));
        });
    });
    on('system-clipon', function () {
        system.call('setClipboardEnabled', [KEY, CALLBACK, ID, true], function (answer) {
            system.show(ok(answer) ? 'The clipboard keys work again.' : failure(answer));
        });
    });
    // The registry calls answer with the value alone: (data) and (stored).
    on('system-setreg', function () {
        var name = value('system-name'), data = value('system-data');
        var args = [KEY, value('system-key'), name, data, CALLBACK];
        system.call('setRegEntry', args, function (answer) {
            system.show(answer[0] ? 'Stored ' + name + ' = ' + data
                                  : 'Not stored (HKEY_LOCAL_MACHINE is read-only for pages).');
        });
    });
    on('system-getreg', function () {
        var name = value('system-name');
        system.call('regEntry', [KEY, value('system-key'), name, '(not set)', CALLBACK],
                    function (answer) { system.show('Registry: ' + name + ' = ' + answer[0]); });
    });
    on('system-standby', function () {
        system.call('setStandByEnabled', [KEY, CALLBACK, ID, false], function (answer) {
            system.show(ok(answer) ? 'The screen saver stays away until the shell ends.'
                                   : failure(answer));
        });
    });
    on('system-wifi', function () {
        system.call('fetchWifiConnName', [KEY, CALLBACK, ID], function (answer) {
            system.show(ok(answer) ? 'Wireless network: ' + (answer[3] || '(none)')
                                   : failure(answer));
        });
    });
    on('system-explorer', function () {
        system.call('launchExplorer', [KEY, value('system-path')]);
    });
    on('system-notepad', function () {
        system.call('launchNotepad', [KEY, value('system-path')]);
    });
    on('system-wrongkey', function () {
        // Never answered by its own callback: the function given to qtOnError hears the refusal.
        system.call('readFile', ['not the key', CALLBACK, ID, qtTempDirPath() + 'x.txt']);
        system.show('A wrong key: the refusal goes to the qtOnError function, logged below.');
    });

    // ---- Mail ----
    var mail = S.panel('mail');

    function onMailed(answer) {
        mail.show(ok(answer) ? 'Handed "' + value('mail-subject') + '" to the mail client.'
                             : failure(answer));
    }
    function mailArguments() {
        return [KEY, CALLBACK, ID, value('mail-to'), value('mail-subject'), value('mail-body'), '',
                '', value('mail-attname'), value('mail-attdata')];
    }
    // A call from the page carries at most ten arguments, so the direct form ends with the
    // attachment's name and content: a plain-text mail with a text attachment.
    on('mail-send', function () { mail.call('sendMail', mailArguments(), onMailed); });
    // The full form leaves its arguments in the frame: binary flags (joined with qtDelimiter()
    // like the names and contents), an HTML body, priority 2 (high), no read receipt.
    on('mail-sendfull', function () {
        mail.call('sendMail', mailArguments().concat(['0', true, 2, false]), onMailed,
                  { viaParameters: true });
    });

    // ---- Settings and logging ----
    var settings = S.panel('settings');

    on('settings-fetch', function () {
        // Answers (url, user, password, maximize); the password stays off the screen.
        settings.call('fetchSettings', [KEY, CALLBACK], function (answer) {
            S.byId('settings-url').value = answer[0];
            S.byId('settings-user').value = answer[1];
            S.byId('settings-pass').value = answer[2];
            S.byId('settings-maximize').checked = !!answer[3];
            settings.show('Start page: ' + answer[0] + '\nUser: ' + answer[1] + '\nMaximized: '
                          + answer[3]);
        }, { secretAnswers: [2] });
    });
    on('settings-update', function () {
        var list = [value('settings-url'), value('settings-user'), S.secret(value('settings-pass')),
                    S.checked('settings-maximize')];
        settings.call('updateSettings', [KEY, list, CALLBACK], function (answer) {
            settings.show(answer[0] ? 'Settings kept for this run.' : 'Settings not kept.');
        });
    });
    on('settings-fetchlog', function () {
        settings.call('fetchLogSettings', [KEY, CALLBACK, ID], function (answer) {
            if (!ok(answer)) return settings.show(failure(answer));
            // The stored switches: "1", "0" or empty when never stored.
            S.byId('settings-logapp').checked = answer[4] === '1';
            S.byId('settings-logshell').checked = answer[5] === '1';
            S.byId('settings-logudp').checked = answer[6] === '1';
            settings.show('Stored log switches: app "' + answer[4] + '", shell "' + answer[5]
                          + '", udp "' + answer[6] + '"');
        });
    });
    on('settings-updatelog', function () {
        var flag = function (id) { return S.checked(id) ? '1' : '0'; };
        var switches = [flag('settings-logapp'), flag('settings-logshell'),
                        flag('settings-logudp')];
        settings.call('updateLogSettings', [KEY, CALLBACK, ID, switches.join(qtDelimiter())],
                      function (answer) {
                          settings.show(ok(answer) ? 'Log switches stored.' : failure(answer));
                      });
    });
    on('settings-log', function () {
        // No key and no answer; the line is written only while the log and its app switch are on.
        settings.call('qtLog', [value('settings-line')]);
        settings.show('Logged: ' + value('settings-line'));
    });
    on('settings-readlog', function () {
        var args = [KEY, CALLBACK, ID, value('settings-logfile')];
        settings.call('readFile', args, function (answer) {
            if (!ok(answer)) return settings.show(failure(answer));
            settings.show('The log\'s last lines:\n' + answer[3].split('\n').slice(-12).join('\n'));
        });
    });

    // ---- Quit with processing ----
    var quit = S.panel('quit');
    var working = false;

    on('quit-listen', function () {
        quit.call('onQuitRequest', [KEY, PERSISTENT, ID], function () {
            // The shell marks a quit request with the state change indicator 5. While the work
            // holds qtSetProcessing(true) the request waits, so it should find no work running.
            quit.show('A quit was requested (state change indicator ' + popQtStateChangeIndicator()
                      + ') ' + (working ? 'while work is running!'
                                        : 'with no work running: save, then press quit.'));
        });
        quit.show('Listening: closing the window now asks this page first.');
    });
    on('quit-work', function () {
        if (working) return;
        var left = Math.max(1, number('quit-seconds'));
        var report = function () {
            quit.show('Working... ' + left + ' s left. A quit request waits meanwhile.');
        };
        working = true;
        quit.call('qtSetProcessing', [true]);
        report();
        var tick = setInterval(function () {
            if (--left > 0) return report();
            clearInterval(tick);
            working = false;
            quit.call('qtSetProcessing', [false]);
            quit.show('Work done.');
        }, 1000);
    });
    on('quit-request', function () {
        // The shell answers the onQuitRequest callback, or ends when none is registered.
        quit.call('requestQuit', [KEY, '', ID]);
    });
    on('quit-now', function () { quit.call('quit', [KEY, '', ID]); });
    on('quit-error', function () {
        quit.call('quitWithError', [KEY, '', ID, number('quit-code')]);
    });
})();
