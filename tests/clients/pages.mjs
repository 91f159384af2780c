// Opens pages of harvix-gateway in Debian's Chromium, driven by Playwright,
// at a phone's size, and prints for each what tst_pages checks, one JSON
// object a line: how wide the page is against the window, the pictures it
// draws, and every console message and script error.
//   node pages.mjs URL...
import { chromium } from "playwright-core";

const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
try {
    for (const url of process.argv.slice(2)) {
        // A common phone, held upright.
        const page = await browser.newPage({ viewport: { width: 390, height: 844 } });
        const messages = [];
        page.on("console", (message) => messages.push(`${message.type()}: ${message.text()}`));
        page.on("pageerror", (error) => messages.push(`error: ${error.message}`));
        const response = await page.goto(url);
        const measured = await page.evaluate(() => ({
            scrollWidth: document.documentElement.scrollWidth,
            clientWidth: document.documentElement.clientWidth,
            pictures: Array.from(document.querySelectorAll("svg")).map((svg) => {
                const box = svg.getBoundingClientRect();
                return { left: box.left, right: box.right, height: box.height };
            }),
        }));
        console.log(JSON.stringify({ url, status: response.status(), ...measured, messages }));
        await page.close();
    }
} finally {
    await browser.close();
}
