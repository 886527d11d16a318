#!/usr/bin/env node
// Records tests/data/har/playwright-chromium.har: Debian's Chromium, driven by
// playwright-core's recordHar, loads a small site served here on 127.0.0.1
// (a page with a style sheet, a script making XHR and fetch calls, an image and
// a frame; a form posted with URL encoding and one posted as text/plain).
//   npm ci && node record-chromium-har.js [output.har]
'use strict'
const http = require('http')
const path = require('path')
const { chromium } = require('playwright-core')

// A fixed port, so that the recorded addresses stay the same from one recording to the next.
const port = Number(process.env.HAR_RECORD_PORT || 47913)
const base = `http://127.0.0.1:${port}`
const html = (body) => `<!doctype html><meta charset="utf-8"><title>Shop</title>${body}`
const pages = {
  '/': ['text/html; charset=utf-8', html(`<link rel="stylesheet" href="/site.css"><script src="/app.js"></script>
    <img src="/logo.png" alt=""><iframe src="/frame.html?slot=3"></iframe>
    <form method="post" action="/login"><input name="user"><input name="pass"><button>Sign in</button></form>`)],
  '/site.css': ['text/css', 'body { margin: 0 }'],
  '/app.js': ['application/javascript',
    'fetch("/api/session").then(r => r.text()); const x = new XMLHttpRequest(); x.open("GET", "/api/ping"); x.send();'],
  '/logo.png': ['image/png', Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg==', 'base64')],
  '/frame.html': ['text/html; charset=utf-8', html('<p>frame</p>')],
  '/api/session': ['application/json', '{"user":null}'],
  '/api/ping': ['text/plain', 'pong'],
  '/account': ['text/html; charset=utf-8', html('<p>Welcome</p>')],
  '/notes': ['text/html; charset=utf-8', html(`<form method="post" action="/notes" enctype="text/plain">
    <input name="subject"><textarea name="body"></textarea><button>Save</button></form>`)],
}

const server = http.createServer((req, res) => {
  const route = req.url.split('?')[0]
  req.resume()
  req.on('end', () => {
    if (req.method === 'POST' && route === '/login') {
      res.writeHead(303, { Location: '/account' })
      return res.end()
    }
    const page = req.method === 'POST' && route === '/notes' ? pages['/account'] : pages[route]
    if (!page) {
      res.writeHead(404)
      return res.end()
    }
    res.writeHead(200, { 'Content-Type': page[0] })
    res.end(page[1])
  })
})

async function main () {
  const output = path.resolve(process.argv[2] || path.join(__dirname, '../../tests/data/har/playwright-chromium.har'))
  await new Promise((resolve) => server.listen(port, '127.0.0.1', resolve))
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] })
  const context = await browser.newContext({ recordHar: { path: output, content: 'embed' } })
  const page = await context.newPage()
  await page.goto(`${base}/`, { waitUntil: 'networkidle' })
  await page.fill('input[name=user]', 'anna@example.test')
  await page.fill('input[name=pass]', 'sésame & co')
  await Promise.all([page.waitForURL(`${base}/account`), page.click('button')])
  await page.goto(`${base}/notes`)
  await page.fill('input[name=subject]', 'Café')
  await page.fill('textarea[name=body]', 'two words')
  await Promise.all([page.waitForLoadState('load'), page.waitForRequest(`${base}/notes`), page.click('button')])
  await page.waitForLoadState('networkidle')
  await context.close()
  await browser.close()
  server.close()
  console.log(output)
}
main().catch((err) => { console.error(err); process.exit(1) })
